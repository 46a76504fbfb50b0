#pragma once
// A browser for tests: hands back one prepared document (or failure) and notes every address.

#include "retrieval/render/PageRenderer.h"

#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

class FakeRenderer final : public retrieval::PageRenderer {
public:
    explicit FakeRenderer(retrieval::Rendered answer = {}) : answer_(std::move(answer)) {}

    bool available() const override { return true; }
    retrieval::Rendered render(const retrieval::RenderRequest& request, const std::atomic<bool>*) override {
        const std::lock_guard lock(mutex_);
        urls_.push_back(request.url);
        return answer_;
    }
    std::string describe() override { return "Browser: Testbrowser"; }

    std::vector<std::string> urls() const {
        const std::lock_guard lock(mutex_);
        return urls_;
    }

private:
    retrieval::Rendered answer_;
    mutable std::mutex mutex_;
    std::vector<std::string> urls_;
};

} // namespace testsupport
