#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace veltrin::lab {

class Lab;

// The lab's admin interface: HTTP with JSON answers on 127.0.0.1.
class AdminApi final {
public:
    explicit AdminApi(Lab& lab);
    ~AdminApi();
    AdminApi(const AdminApi&) = delete;
    AdminApi& operator=(const AdminApi&) = delete;

    // Port 0 picks a free one. Throws std::runtime_error.
    void start(std::uint16_t port);
    void stop();
    std::string url() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace veltrin::lab
