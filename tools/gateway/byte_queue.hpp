// Bytes received and not yet used, or waiting to be sent: a queue that
// grows at its end and is consumed from its front.
#ifndef TOOLS_GATEWAY_BYTE_QUEUE_HPP
#define TOOLS_GATEWAY_BYTE_QUEUE_HPP

#include <unistd.h>

#include <cstddef>
#include <string_view>
#include <vector>

namespace gateway {

// Used by one thread.  Its size is whatever its owner lets it grow to: the
// relay bounds each queue.
class byte_queue {
public:
    std::string_view view() const
    {
        return std::string_view(bytes_.data() + head_, bytes_.size() - head_);
    }
    std::size_t size() const { return bytes_.size() - head_; }
    bool empty() const { return size() == 0; }

    void append(std::string_view more) { bytes_.insert(bytes_.end(), more.begin(), more.end()); }

    // Drops the first `count` bytes; `count` is at most size().
    void consume(std::size_t count)
    {
        head_ += count;
        if (head_ == bytes_.size()) {
            clear();
        } else if (head_ >= compact_from && head_ * 2 >= bytes_.size()) {
            bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(head_));
            head_ = 0;
        }
    }

    // Reads at most `read_chunk` bytes from `fd` onto the end: read(2)'s
    // result.  The bytes land on the stack first, so the queue only ever
    // grows by what arrived: an idle connection holds no read buffer.
    static constexpr std::size_t read_chunk = 65536;
    ssize_t read_from(int fd)
    {
        char chunk[read_chunk];
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got > 0)
            append(std::string_view(chunk, static_cast<std::size_t>(got)));
        return got;
    }

    // Empties the queue; more room than small messages need is given back.
    void clear()
    {
        bytes_.clear();
        head_ = 0;
        if (bytes_.capacity() > keep_at_most)
            bytes_.shrink_to_fit();
    }

private:
    static constexpr std::size_t compact_from = 65536;
    static constexpr std::size_t keep_at_most = 16384;
    std::vector<char> bytes_;
    std::size_t head_ = 0;
};

}  // namespace gateway

#endif
