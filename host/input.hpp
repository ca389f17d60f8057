// An abstract source of characters, declared by the host.  The library
// calls only next_char(); a NUL result means the input is exhausted.
#ifndef HOST_INPUT_HPP
#define HOST_INPUT_HPP

class csgl_input {
public:
    virtual char next_char() = 0;
    virtual ~csgl_input() {}
};

#endif
