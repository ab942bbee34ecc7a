// The logger's cost: a statement whose level is off, and a line written and flushed to a file,
// beside a bare volatile compare, spdlog and a raw fprintf + fflush.
#include "Baselines.h"
#include "log/LogStatement.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <string>

namespace {

std::string ScratchFile(const char* name) {
    static const std::string folder = [] {
        char pattern[] = "/tmp/ornutils-bench-XXXXXX";
        return std::string(mkdtemp(pattern));
    }();
    return folder + "/" + name;
}

// The level table comes from a real mapped file, as in an application.
void MapScratchLevels() {
    static const bool mapped = [] {
        setenv("APPDATA", ScratchFile("").c_str(), 1);
        return OrnUtil::CLog::Init("");
    }();
    if (!mapped)
        std::abort();
}

} // namespace

namespace OrnUtil {
class CBench {
public:
    virtual ~CBench() = default;
    void Run(TLogLevel level, int value) {
        ORN_LOG(level, "OrnUtil::CBench::Run") << "sent block " << value << " of the image";
    }
    // The statement where the library has it: in the middle of a member function's work.
    void Loop(benchmark::State& state) {
        int value = 0;
        for (auto _ : state) {
            ORN_LOG(DEBUG, "OrnUtil::CBench::Loop") << "sent block " << value << " of the image";
            ++value;
            benchmark::ClobberMemory();
        }
    }
};
} // namespace OrnUtil

namespace {

BENCHMARK(SuppressedStatementBaseline)->Name("SuppressedStatement/baseline");

void SuppressedIdiom(benchmark::State& state) {
    MapScratchLevels();
    OrnUtil::CBench().Loop(state);
}
BENCHMARK(SuppressedIdiom)->Name("SuppressedStatement/idiom");

// Each contender writes its own file, opened once and shared by the benchmark's threads.
FILE* SharedFile(const std::string& name) {
    static std::map<std::string, FILE*> files;
    static std::mutex lock;
    std::lock_guard<std::mutex> hold(lock);
    FILE*& file = files[name];
    if (file == nullptr)
        file = std::fopen(ScratchFile(name.c_str()).c_str(), "w");
    return file;
}

void FileIdiom(benchmark::State& state) {
    MapScratchLevels();
    OrnUtil::CLog::SetPipe(APP, SharedFile("ornutils.log"));
    OrnUtil::CBench bench;
    int value = 0;
    for (auto _ : state)
        bench.Run(WARN, value++);
    state.SetItemsProcessed(state.iterations());
}

std::shared_ptr<spdlog::logger> SpdLogger() {
    static auto logger = [] {
        auto created = spdlog::basic_logger_mt("bench", ScratchFile("spdlog.log"), true);
        created->set_pattern(
            "%H:%M:%S.%e %-7l %t:class OrnUtil::CBench:41:OrnUtil::CBench::Run:%v");
        created->flush_on(spdlog::level::trace);
        return created;
    }();
    return logger;
}

void FileSpdlog(benchmark::State& state) {
    auto logger = SpdLogger();
    int value = 0;
    for (auto _ : state)
        logger->warn("sent block {} of the image", value++);
    state.SetItemsProcessed(state.iterations());
}

void FileFprintf(benchmark::State& state) {
    FILE* file = SharedFile("fprintf.log");
    const char* line =
        "21:03:07.045 WARN   1a2c:class OrnUtil::CBench:41:OrnUtil::CBench::Run:sent "
        "block 12345 of the image\n";
    for (auto _ : state) {
        std::fprintf(file, "%s", line);
        std::fflush(file);
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(FileSpdlog)->Name("FlushedLineVsSpdlog/baseline")->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(FileIdiom)->Name("FlushedLineVsSpdlog/idiom")->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(FileFprintf)
    ->Name("FlushedLineVsFprintf/baseline")
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime();
BENCHMARK(FileIdiom)->Name("FlushedLineVsFprintf/idiom")->Threads(1)->Threads(2)->UseRealTime();

} // namespace
