// Scratch files for the file and stream tests: a fresh directory that is
// removed with everything in it when the test ends, pass or fail.
#ifndef TESTS_SUPPORT_TEMP_DIR_HPP
#define TESTS_SUPPORT_TEMP_DIR_HPP

#include <string>

class temp_dir {
public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::string& path() const { return path_; }
    // The path of `name` inside the directory.
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The whole contents of a file; "<missing>" when it cannot be opened.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& contents);
// The permission bits of a file, or -1.
int file_mode(const std::string& path);

#endif
