#include "net/IdMessage.h"

#include <ctime>
#include <random>

namespace net {

namespace {

// Header values stay on one line: a line break typed into a field must not start a header.
std::string OneLine(std::string_view text) {
    std::string out;
    for (char c : text)
        out += (c == '\r' || c == '\n') ? ' ' : c;
    return out;
}

bool IsAscii(std::string_view text) {
    for (unsigned char c : text)
        if (c > 127)
            return false;
    return true;
}

std::string Base64(std::string_view bytes) {
    static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += table[v >> 18];
        out += table[(v >> 12) & 63];
        out += table[(v >> 6) & 63];
        out += table[v & 63];
    }
    if (i + 1 == bytes.size()) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out += table[v >> 18];
        out += table[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += table[v >> 18];
        out += table[(v >> 12) & 63];
        out += table[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

// RFC 2047 encoded words of at most 45 bytes each, cut between UTF-8 characters, folded.
std::string EncodedWords(std::string_view text, const std::string& charset) {
    std::string out;
    while (!text.empty()) {
        std::size_t take = std::min<std::size_t>(45, text.size());
        while (take < text.size() && take > 1 &&
               (static_cast<unsigned char>(text[take]) & 0xC0) == 0x80)
            --take;
        if (!out.empty())
            out += "\r\n ";
        out += "=?" + charset + "?B?" + Base64(text.substr(0, take)) + "?=";
        text.remove_prefix(take);
    }
    return out;
}

std::string HeaderText(std::string_view value, const std::string& charset) {
    const std::string line = OneLine(value);
    return IsAscii(line) ? line : EncodedWords(line, charset);
}

std::string InternetDate(std::chrono::system_clock::time_point when) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&t, &local);
    const long offset = local.tm_gmtoff / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  days[local.tm_wday], local.tm_mday, months[local.tm_mon], local.tm_year + 1900,
                  local.tm_hour, local.tm_min, local.tm_sec, offset < 0 ? '-' : '+',
                  std::labs(offset) / 60, std::labs(offset) % 60);
    return text;
}

} // namespace

std::string TIdEmailAddressItem::Text() const {
    return Name.empty() ? Address : Name + " <" + Address + ">";
}

TIdEmailAddressItem& TIdEmailAddressList::Add() {
    return items_.emplace_back();
}

std::string TIdEmailAddressList::EMailAddresses() const {
    std::string out;
    for (const auto& item : items_) {
        if (!out.empty())
            out += ", ";
        out += item.Text();
    }
    return out;
}

void TIdEmailAddressList::SetEMailAddresses(const std::string& addresses) {
    items_.clear();
    std::size_t start = 0;
    while (start <= addresses.size()) {
        auto end = addresses.find_first_of(",;", start);
        if (end == std::string::npos)
            end = addresses.size();
        std::string one = addresses.substr(start, end - start);
        const auto first = one.find_first_not_of(" \t");
        const auto last = one.find_last_not_of(" \t");
        if (first != std::string::npos)
            Add().Address = one.substr(first, last - first + 1);
        start = end + 1;
    }
}

std::string TIdMessage::GenerateMessage(const std::string& domain) const {
    const auto when =
        Date == std::chrono::system_clock::time_point{} ? std::chrono::system_clock::now() : Date;
    std::string from = From.Name.empty()
                           ? OneLine(From.Address)
                           : HeaderText(From.Name, CharSet) + " <" + OneLine(From.Address) + ">";
    std::string to;
    for (int i = 0; i < Recipients.Count(); ++i) {
        const auto& item = Recipients[i];
        if (!to.empty())
            to += ", ";
        to += item.Name.empty()
                  ? OneLine(item.Address)
                  : HeaderText(item.Name, CharSet) + " <" + OneLine(item.Address) + ">";
    }
    std::mt19937_64 random{std::random_device{}()};
    const auto stamp =
        std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count();

    std::string text;
    text += "From: " + from + "\r\n";
    if (!to.empty())
        text += "To: " + to + "\r\n";
    text += "Subject: " + HeaderText(Subject, CharSet) + "\r\n";
    text += "Date: " + InternetDate(when) + "\r\n";
    text += "Message-ID: <" + std::to_string(stamp) + "." + std::to_string(random() % 1000000000) +
            "@" + OneLine(domain.empty() ? "localhost" : domain) + ">\r\n";
    text += "MIME-Version: 1.0\r\n";
    text += "Content-Type: " + OneLine(ContentType) + "; charset=" + OneLine(CharSet) + "\r\n";
    text += "Content-Transfer-Encoding: 8bit\r\n";
    text += "\r\n";
    // A body line holding a line break becomes several lines; curl doubles leading dots.
    for (int i = 0; i < Body.Count(); ++i) {
        const std::string line = Body[i];
        if (line.find_first_of("\r\n") == std::string::npos) {
            text += line + "\r\n";
            continue;
        }
        for (const auto& part : vcl::SplitLines(line))
            text += part + "\r\n";
    }
    return text;
}

} // namespace net
