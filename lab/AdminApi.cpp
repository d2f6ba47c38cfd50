#include "AdminApi.h"

#include <httplib.h>

#include <charconv>
#include <chrono>
#include <map>
#include <optional>
#include <stdexcept>
#include <thread>

#include <nlohmann/json.hpp>

#include "Lab.h"

namespace veltrin::lab {
namespace {

using nlohmann::json;

void reply(httplib::Response& res, int status, const json& body) {
    res.status = status;
    // User names come from the wire and need not be valid UTF-8.
    res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

void replyError(httplib::Response& res, int status, const std::string& message) {
    reply(res, status, json{{"error", message}});
}

template <typename Int>
std::optional<Int> parseNumber(const std::string& text) {
    Int value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

struct AdminApi::Impl {
    explicit Impl(Lab& l) : lab(l) {}

    void routes();
    void post(const std::string& path, httplib::Server::Handler handler);

    Lab& lab;
    httplib::Server server;
    std::map<std::string, httplib::Server::Handler> posts;
    std::thread thread;
    int port = 0;
};

void AdminApi::Impl::post(const std::string& path, httplib::Server::Handler handler) {
    server.Post(path, handler);
    posts.emplace(path, std::move(handler));
}

void AdminApi::Impl::routes() {
    // httplib answers 400 to a POST with neither Content-Length nor chunks (a bare
    // `curl -X POST`) before routing; these requests carry no body, so serve them here.
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (req.method != "POST" || req.has_header("Content-Length") ||
            req.has_header("Transfer-Encoding")) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        const auto it = posts.find(req.path);
        if (it == posts.end()) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        it->second(req, res);
        return httplib::Server::HandlerResponse::Handled;
    });
    server.Get("/admin/lines", [this](const httplib::Request&, httplib::Response& res) {
        reply(res, 200, lab.lines());
    });
    server.Get("/admin/sessions", [this](const httplib::Request&, httplib::Response& res) {
        reply(res, 200, lab.sessions());
    });
    server.Get("/admin/dials", [this](const httplib::Request&, httplib::Response& res) {
        reply(res, 200, lab.dials());
    });
    server.Get("/admin/public-ip", [this](const httplib::Request&, httplib::Response& res) {
        reply(res, 200, json(lab.publicIp()));
    });

    post("/admin/drop", [this](const httplib::Request& req, httplib::Response& res) {
        const bool bySession = req.has_param("session");
        const bool byLine = req.has_param("line");
        if (bySession && byLine) {
            return replyError(res, 400, "give session or line, not both");
        }
        if (bySession) {
            const auto id = parseNumber<std::uint64_t>(req.get_param_value("session"));
            if (!id) {
                return replyError(res, 400, "session must be a number");
            }
            if (!lab.drop(*id)) {
                return replyError(res, 404, "no open session " + std::to_string(*id));
            }
            return reply(res, 200, json{{"dropped", 1}});
        }
        if (byLine) {
            const std::string name = req.get_param_value("line");
            LineServer* line = lab.line(name);
            if (line == nullptr) {
                return replyError(res, 404, "no line named " + name);
            }
            return reply(res, 200, json{{"dropped", line->dropAll()}});
        }
        reply(res, 200, json{{"dropped", lab.dropAll()}});
    });

    post("/admin/refuse-next", [this](const httplib::Request& req, httplib::Response& res) {
        if (!req.has_param("line")) {
            return replyError(res, 400, "line is required");
        }
        const std::string name = req.get_param_value("line");
        LineServer* line = lab.line(name);
        if (line == nullptr) {
            return replyError(res, 404, "no line named " + name);
        }
        int code = 691;
        if (req.has_param("code")) {
            const auto parsed = parseNumber<int>(req.get_param_value("code"));
            if (!parsed || *parsed <= 0) {
                return replyError(res, 400, "code must be a positive number");
            }
            code = *parsed;
        }
        line->refuseNext(code);
        reply(res, 200, json{{"line", name}, {"code", code}});
    });

    post("/admin/line", [this](const httplib::Request& req, httplib::Response& res) {
        if (!req.has_param("name") || !req.has_param("status")) {
            return replyError(res, 400, "name and status are required");
        }
        const std::string name = req.get_param_value("name");
        LineServer* line = lab.line(name);
        if (line == nullptr) {
            return replyError(res, 404, "no line named " + name);
        }
        const auto status = parseStatus(req.get_param_value("status"));
        if (!status) {
            return replyError(res, 400, "status must be up, down or maintenance");
        }
        try {
            line->setStatus(*status);
        } catch (const std::exception& e) {
            return replyError(res, 500, e.what());
        }
        reply(res, 200, line->describe());
    });

    server.Get("/admin/requests", [this](const httplib::Request&, httplib::Response& res) {
        reply(res, 200, lab.web().requests());
    });
    post("/admin/clear-requests", [this](const httplib::Request&, httplib::Response& res) {
        lab.web().clearRequests();
        reply(res, 200, json{{"cleared", true}});
    });
    server.Get("/admin/web", [this](const httplib::Request&, httplib::Response& res) {
        WebService& web = lab.web();
        reply(res, 200,
              json{{"web", web.url()},
                   {"web_tls", web.tlsUrl()},
                   {"scenario", scenarioName(web.scenario())},
                   {"clock_ms", web.clockMs()},
                   {"online", web.onlineSessions()}});
    });
    post("/admin/scenario", [this](const httplib::Request& req, httplib::Response& res) {
        const auto scenario = parseScenario(req.get_param_value("name"));
        if (!scenario) {
            return replyError(res, 400,
                              "name must be normal, down, slow, trickle, garbage, force_update "
                              "or withdraw");
        }
        lab.web().setScenario(*scenario);
        reply(res, 200, json{{"scenario", scenarioName(*scenario)}});
    });
    post("/admin/clock", [this](const httplib::Request& req, httplib::Response& res) {
        if (!req.has_param("ms") || req.get_param_value("ms").empty()) {
            lab.web().setClockMs(std::nullopt);
        } else {
            const auto ms = parseNumber<std::int64_t>(req.get_param_value("ms"));
            if (!ms) {
                return replyError(res, 400, "ms must be a number");
            }
            lab.web().setClockMs(*ms);
        }
        reply(res, 200, json{{"clock_ms", lab.web().clockMs()}});
    });
    post("/admin/account", [this](const httplib::Request& req, httplib::Response& res) {
        if (!req.has_param("user") || !req.has_param("password")) {
            return replyError(res, 400, "user and password are required");
        }
        std::int64_t endTime = 0;
        if (req.has_param("end_time")) {
            const auto parsed = parseNumber<std::int64_t>(req.get_param_value("end_time"));
            if (!parsed) {
                return replyError(res, 400, "end_time must be a number");
            }
            endTime = *parsed;
        } else if (req.has_param("expires_in_s")) {
            const auto parsed = parseNumber<std::int64_t>(req.get_param_value("expires_in_s"));
            if (!parsed) {
                return replyError(res, 400, "expires_in_s must be a number");
            }
            endTime = lab.web().clockMs() / 1000 + *parsed;
        } else {
            return replyError(res, 400, "end_time or expires_in_s is required");
        }
        lab.web().setAccount(req.get_param_value("user"), req.get_param_value("password"), endTime);
        reply(res, 200, json{{"user", req.get_param_value("user")}, {"end_time", endTime}});
    });
    server.Get("/admin/online", [this](const httplib::Request&, httplib::Response& res) {
        reply(res, 200, lab.web().onlineSessions());
    });
    post("/admin/online", [this](const httplib::Request& req, httplib::Response& res) {
        if (!req.has_param("user")) {
            return replyError(res, 400, "user is required");
        }
        reply(res, 200,
              json{{"id", lab.web().addLeftoverSession(req.get_param_value("user"))},
                   {"user", req.get_param_value("user")}});
    });

    post("/admin/shutdown", [this](const httplib::Request&, httplib::Response& res) {
        reply(res, 200, json{{"shutting_down", true}});
        lab.requestShutdown();
    });

    server.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        if (res.body.empty()) {
            reply(res, res.status,
                  json{{"error", "no such request: " + req.method + " " + req.path}});
        }
    });
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
            std::string message = "internal error";
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                message = e.what();
            } catch (...) {
            }
            replyError(res, 500, message);
        });
}

AdminApi::AdminApi(Lab& lab) : impl_(std::make_unique<Impl>(lab)) {
    impl_->routes();
}

AdminApi::~AdminApi() {
    stop();
}

void AdminApi::start(std::uint16_t port) {
    Impl& i = *impl_;
    // One request per connection: an idle kept-alive client would otherwise hold up shutdown.
    i.server.set_keep_alive_max_count(1);
    i.server.set_keep_alive_timeout(2);
    if (port == 0) {
        i.port = i.server.bind_to_any_port("127.0.0.1");
    } else {
        i.port = i.server.bind_to_port("127.0.0.1", port) ? port : -1;
    }
    if (i.port <= 0) {
        throw std::runtime_error("cannot bind the admin interface to 127.0.0.1:" +
                                 std::to_string(port));
    }
    i.thread = std::thread([&i] { i.server.listen_after_bind(); });
    // stop() is a no-op until the server runs, so shutdown could hang without this wait.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!i.server.is_running()) {
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("the admin interface did not start");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void AdminApi::stop() {
    if (impl_->thread.joinable()) {
        impl_->server.stop();
        impl_->thread.join();
    }
}

std::string AdminApi::url() const {
    return "http://127.0.0.1:" + std::to_string(impl_->port);
}

}  // namespace veltrin::lab
