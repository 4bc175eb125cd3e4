// The cost of one log line and of one rotation, with the parts of a line taken apart:
// time stamp, the one write, the one size query.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "log/Log_File.h"
#include "log/Log_Names.h"
#include "platform/Files.h"

namespace fs = std::filesystem;

namespace {

const std::string kText = "         Message : 298";  // a typical driver line

std::string Folder(const char* name) {
    fs::path p = fs::temp_directory_path() / "kra_log_bench" / name;
    fs::remove_all(p);
    fs::create_directories(p);
    return p.string() + "/";
}

// The whole line as the driver writes it: level test, stamp, lock, write, size query.
void BM_LogLine(benchmark::State& state) {
    const std::string dir = Folder("line");
    TLogFile log(dir + "kra_MCR_Serial.log", 5120, 1, 1, 5, false);
    for (auto _ : state) log.Log(1, kText, true);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogLine);

// A line above the level: what the level-10 hand-over lines cost.
void BM_LogFilteredOut(benchmark::State& state) {
    const std::string dir = Folder("filtered");
    TLogFile log(dir + "kra_MCR_Serial.log", 5120, 1, 1, 5, false);
    for (auto _ : state) log.Log(10, kText, true);
}
BENCHMARK(BM_LogFilteredOut);

void BM_LocalNow(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(platform::LocalNow());
}
BENCHMARK(BM_LocalNow);

void BM_TimeStampText(benchmark::State& state) {
    const platform::LocalTime t = platform::LocalNow();
    for (auto _ : state) benchmark::DoNotOptimize(logname::TimeStamp(t, ":"));
}
BENCHMARK(BM_TimeStampText);

void BM_WriteCall(benchmark::State& state) {
    const std::string dir = Folder("write");
    platform::File f;
    f.Open(dir + "w.log", platform::FileAccess::Write, platform::ShareRead, platform::FileDisposition::CreateAlways);
    const std::string line = logname::TimeStamp(platform::LocalNow(), ":") + kText + "\r\n";
    for (auto _ : state) f.Write(line.data(), line.size());
}
BENCHMARK(BM_WriteCall);

void BM_SizeQuery(benchmark::State& state) {
    const std::string dir = Folder("size");
    platform::File f;
    f.Open(dir + "s.log", platform::FileAccess::Write, platform::ShareRead, platform::FileDisposition::CreateAlways);
    f.Write("x", 1);
    for (auto _ : state) benchmark::DoNotOptimize(f.SizeLow());
}
BENCHMARK(BM_SizeQuery);

// The two system calls a line needs, back to back, without the log around them.
void BM_WriteThenSizeQuery(benchmark::State& state) {
    const std::string dir = Folder("pair");
    platform::File f;
    f.Open(dir + "p.log", platform::FileAccess::Write, platform::ShareRead, platform::FileDisposition::CreateAlways);
    const std::string line = logname::TimeStamp(platform::LocalNow(), ":") + kText + "\r\n";
    for (auto _ : state) {
        f.Write(line.data(), line.size());
        benchmark::DoNotOptimize(f.SizeLow());
    }
}
BENCHMARK(BM_WriteThenSizeQuery);

// One rotation of the driver's log: five files of 5120 KB, the line that fills 01 shifts them.
void BM_Rotation5120KB(benchmark::State& state) {
    const std::string dir = Folder("rotation");
    const uint32_t limit = 5120u * 1024u;
    const std::string line = logname::TimeStamp(platform::LocalNow(), ":") + kText + "\r\n";
    const std::string block(limit, 'x');
    for (int n = 2; n <= 5; ++n) {
        platform::File f;
        f.Open(dir + "kra_MCR_Serial." + logname::NumberText(n) + ".log", platform::FileAccess::Write, 0,
               platform::FileDisposition::CreateAlways);
        f.Write(block.data(), block.size());
    }
    TLogFile log(dir + "kra_MCR_Serial.log", 5120, 1, 1, 5, false);
    for (auto _ : state) {
        state.PauseTiming();
        {
            platform::File f;  // fill 01 behind the log's back; the log's own line keeps it at the limit
            f.Open(dir + "kra_MCR_Serial.01.log", platform::FileAccess::Write, 7, platform::FileDisposition::OpenAlways);
            f.Write(block.data(), block.size());
        }
        state.ResumeTiming();
        log.Log(1, kText, true);  // at the limit: delete 05, four renames, a new 01
    }
}
BENCHMARK(BM_Rotation5120KB)->Unit(benchmark::kMicrosecond)->Iterations(50);

}  // namespace

BENCHMARK_MAIN();
