#pragma once

// The mailbox the benchmark server serves and the benchmark client expects, generated the same
// way on both sides so that every reply can be checked byte for byte without a second copy on
// disk.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace bench {

inline constexpr std::string_view MailUser = "bench";
inline constexpr std::string_view MailPassword = "s3cret-pass";

// Message 1 is the big one; messages 2..count are a few hundred bytes each.
struct MailboxShape {
    std::size_t bigMessageBytes = 200u << 20;
    int messageCount = 100'000;
};

// The whole reply to "RETR 1": status line, dot-stuffed message, terminating ".". The message
// is at least messageBytes long; lines that start with "." (and a line that is only ".") are in
// it so that stuffing is exercised. octets is the unstuffed size, as STAT reports it.
struct BigMessage {
    std::string reply;
    std::size_t octets = 0;
};
BigMessage MakeBigMessage(std::size_t messageBytes);

// One of the tiny messages, and the whole reply to "RETR n" for it.
std::string TinyMessage(int number);
std::string TinyMessageReply(int number);

// The whole reply to "UIDL" for the mailbox, and one line of it (without CR LF).
std::string UidlReply(int messageCount);
std::string UidlLine(int number);

std::string Md5Hex(std::string_view bytes);

// MD5 over data that arrives in pieces.
class Md5Stream {
public:
    Md5Stream();
    ~Md5Stream();
    Md5Stream(const Md5Stream&) = delete;
    Md5Stream& operator=(const Md5Stream&) = delete;
    void Add(const char* data, std::size_t size);
    std::string FinishHex();

private:
    void* context;
};

} // namespace bench
