#include "BenchMailbox.h"

#include <openssl/evp.h>

#include <array>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace bench {

namespace {

constexpr std::string_view CrLf = "\r\n";

std::string Header() {
    // A realistic header: the relay inspects the first block of a retrieval, and this one must
    // pass through unchanged (its character set is not on any list the benchmark sets up).
    return "Return-Path: <sender@bench.invalid>\r\n"
           "Received: from bench.invalid by bench.invalid; Mon, 1 Jan 2024 00:00:00 +0000\r\n"
           "To: bench@bench.invalid\r\n"
           "From: sender@bench.invalid\r\n"
           "Subject: Relay benchmark\r\n"
           "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
           "\r\n";
}

// A pool of body lines, cycled through: varied lengths, some starting with a dot, one that is
// only a dot and would end the reply if it were not stuffed.
std::vector<std::string> BodyLinePool() {
    std::vector<std::string> pool;
    std::uint32_t seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int i = 0; i < 1021; ++i) {
        std::string line;
        const std::size_t length = 1 + next() % 76;
        for (std::size_t k = 0; k < length; ++k) {
            line.push_back(static_cast<char>(' ' + next() % 95));
        }
        if (i % 7 == 3) {
            line.front() = '.';
        }
        pool.push_back(line);
    }
    pool[500] = ".";
    pool[501] = "";
    return pool;
}

std::string StatusLine(std::size_t octets) {
    return "+OK " + std::to_string(octets) + " octets\r\n";
}

} // namespace

BigMessage MakeBigMessage(std::size_t messageBytes) {
    static const std::vector<std::string> pool = BodyLinePool();
    const std::string header = Header();
    // A first pass counts, so the status line can go first without a second copy of the body.
    std::size_t lines = 0;
    std::size_t octets = header.size();
    std::size_t dots = 0;
    for (; octets < messageBytes; ++lines) {
        const std::string& line = pool[lines % pool.size()];
        dots += !line.empty() && line.front() == '.';
        octets += line.size() + CrLf.size();
    }
    BigMessage message{StatusLine(octets), octets};
    message.reply.reserve(message.reply.size() + octets + dots + 3);
    message.reply.append(header);
    for (std::size_t i = 0; i < lines; ++i) {
        const std::string& line = pool[i % pool.size()];
        if (!line.empty() && line.front() == '.') {
            message.reply.push_back('.');
        }
        message.reply.append(line).append(CrLf);
    }
    message.reply.append(".\r\n");
    return message;
}

std::string TinyMessage(int number) {
    return Header() + "Message number " + std::to_string(number) + " of the benchmark mailbox.\r\n";
}

std::string TinyMessageReply(int number) {
    const std::string message = TinyMessage(number);
    return StatusLine(message.size()) + message + ".\r\n";
}

std::string UidlLine(int number) {
    char line[64];
    std::snprintf(line, sizeof line, "%d %08x%08x", number,
                  static_cast<unsigned>(number) * 2654435761u,
                  static_cast<unsigned>(number) ^ 0x5bd1e995u);
    return line;
}

std::string UidlReply(int messageCount) {
    std::string reply = "+OK unique-id listing follows\r\n";
    reply.reserve(static_cast<std::size_t>(messageCount) * 26 + 64);
    for (int n = 1; n <= messageCount; ++n) {
        reply.append(UidlLine(n)).append(CrLf);
    }
    reply.append(".\r\n");
    return reply;
}

Md5Stream::Md5Stream() : context(EVP_MD_CTX_new()) {
    if (!context || EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(context), EVP_md5(), nullptr) != 1) {
        throw std::runtime_error("OpenSSL MD5 is not available");
    }
}

Md5Stream::~Md5Stream() {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context));
}

void Md5Stream::Add(const char* data, std::size_t size) {
    EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context), data, size);
}

std::string Md5Stream::FinishHex() {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(context), digest.data(), &length);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

std::string Md5Hex(std::string_view bytes) {
    Md5Stream stream;
    stream.Add(bytes.data(), bytes.size());
    return stream.FinishHex();
}

} // namespace bench
