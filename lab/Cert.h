#pragma once

#include <openssl/ssl.h>

#include <memory>

namespace veltrin::lab {

struct SslCtxDeleter {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
using SslContext = std::unique_ptr<SSL_CTX, SslCtxDeleter>;

// A TLS server context with a fresh self-signed certificate for 127.0.0.1, made in memory at
// every start so no key ever lies on disk. Throws std::runtime_error.
SslContext makeSelfSignedServerContext();

}  // namespace veltrin::lab
