#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace veltrin::service::testing::server_list {

struct Server {
    std::string name;
    std::string status;
    std::string ip;
    std::string address;
};

// The answer as the service writes it: members in this order, UTF-8 unescaped.
inline std::string answerOf(const std::vector<Server>& servers) {
    auto answer = nlohmann::ordered_json::array();
    for (const auto& s : servers) {
        answer.push_back(nlohmann::ordered_json{
            {"name", s.name}, {"status", s.status}, {"ip", s.ip}, {"address", s.address}});
    }
    return answer.dump();
}

// Groups A (three running), B (one running, one under maintenance) and D (one running).
inline std::vector<Server> exampleServers() {
    return {
        {"上海电信1", "1", "127.0.1.1", "sh1.lines.test"},
        {"上海电信2", "1", "127.0.1.2", "sh2.lines.test"},
        {"上海电信3", " 2 ", "127.0.1.3", "sh3.lines.test"},
        {"广东移动1", "1", "127.0.2.1", "gd1.lines.test"},
        {"广东移动2", " 0", "127.0.2.2", "gd2.lines.test"},
        {"浙江联通1", "1", "127.0.3.1", "zj1.lines.test"},
    };
}

inline bool validUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t n = 0;
        unsigned min = 0;
        if (b < 0x80) {
            n = 1;
        } else if ((b & 0xE0) == 0xC0) {
            n = 2, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            n = 3, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            n = 4, min = 0x10000;
        } else {
            return false;
        }
        if (i + n > s.size()) {
            return false;
        }
        unsigned cp = n == 1 ? b : (b & (0x7F >> n));
        for (std::size_t k = 1; k < n; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        if (n > 1 && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) {
            return false;
        }
        i += n;
    }
    return true;
}

}  // namespace veltrin::service::testing::server_list
