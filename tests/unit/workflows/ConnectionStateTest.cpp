#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "workflows/ConnectionState.h"

namespace veltrin::workflows {
namespace {

TEST(SharedText, ReadersSeeWholeTextsWhileAnotherThreadReplacesThem) {
    const std::string a(4096, 'a');
    const std::string b = std::string(3000, 'b') + "线路";
    SharedText text(a);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) {
            text.set(i % 2 ? a : b);
        }
        done = true;
    });
    int torn = 0;
    while (!done) {
        const std::string seen = text.get();
        torn += (seen == a || seen == b) ? 0 : 1;
    }
    writer.join();
    EXPECT_EQ(torn, 0);
}

}  // namespace
}  // namespace veltrin::workflows
