#pragma once

// The common main of the benchmark programs: log lines stay out of the measurement output.
#include "Helpers/Logger.hpp"

#include <benchmark/benchmark.h>
#include <memory>

namespace quorvane::bench {

struct DiscardingSink final : LogSink {
    void write(const LogRecord&) override {}
};

inline int run(int argc, char** argv) {
    Logger::setSink(std::make_shared<DiscardingSink>());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace quorvane::bench
