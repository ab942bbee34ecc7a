// The logger's cost: a statement whose level is off, a line written and flushed to a file, and a
// hex dump streamed into a line, beside a bare volatile compare, spdlog, a raw fprintf + fflush and
// a plain table-driven dump formatter.
#include "Baselines.h"
#include "log/LogStatement.h"

#include <array>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void StartEmpty(const std::string& path) {
    if (truncate(path.c_str(), 0) != 0)
        std::perror(path.c_str());
}

std::string ScratchFile(const char* name) {
    static const std::string folder = [] {
        // In memory (tmpfs): the disk's write-back, which runs when it will, would time whichever
        // contender it falls on rather than the logger.
        char pattern[] = "/dev/shm/ornutils-bench-XXXXXX";
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

// Each contender writes its own file, opened once for appending and shared by the benchmark's
// threads. Every run starts it empty: appending to a file that earlier runs made large costs more
// (dirty pages pile up), which would tilt the comparison against whoever ran first.
FILE* SharedFile(const benchmark::State& state, const std::string& name) {
    static std::map<std::string, FILE*> files;
    static std::mutex lock;
    std::lock_guard<std::mutex> hold(lock);
    FILE*& file = files[name];
    if (file == nullptr)
        file = std::fopen(ScratchFile(name.c_str()).c_str(), "a");
    // Nobody writes before the threads meet at the start of the timed loop.
    if (state.thread_index() == 0)
        StartEmpty(ScratchFile(name.c_str()));
    return file;
}

void FileIdiom(benchmark::State& state) {
    MapScratchLevels();
    OrnUtil::CLog::SetPipe(APP, SharedFile(state, "ornutils.log"));
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
    if (state.thread_index() == 0)
        StartEmpty(ScratchFile("spdlog.log")); // the logger appends
    int value = 0;
    for (auto _ : state)
        logger->warn("sent block {} of the image", value++);
    state.SetItemsProcessed(state.iterations());
}

void FileFprintf(benchmark::State& state) {
    FILE* file = SharedFile(state, "fprintf.log");
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

// The dump's layout from two lookup tables, one line at a time into the stream: the way anyone
// would write it by hand.
void PlainHexDump(std::ostream& os, const unsigned char* bytes, unsigned length) {
    static const auto tables = [] {
        std::pair<std::array<std::array<char, 3>, 256>, std::array<char, 256>> made{};
        for (int byte = 0; byte < 256; ++byte) {
            made.first[byte] = {"0123456789ABCDEF"[byte >> 4], "0123456789ABCDEF"[byte & 15], ' '};
            made.second[byte] = byte >= 32 && byte <= 126 ? static_cast<char>(byte) : '.';
        }
        return made;
    }();
    for (unsigned offset = 0; offset < length; offset += 16) {
        char line[80];
        std::memcpy(line, "\n| ", 3);
        for (int digit = 0; digit < 4; ++digit)
            line[3 + digit] = "0123456789ABCDEF"[offset >> (12 - 4 * digit) & 15];
        std::memcpy(line + 7, " | ", 3);
        std::memset(line + 10, ' ', 69);
        for (unsigned i = 0; i < 16 && offset + i < length; ++i) {
            std::memcpy(line + 10 + 3 * i, tables.first[bytes[offset + i]].data(), 3);
            line[61 + i] = tables.second[bytes[offset + i]];
        }
        std::memcpy(line + 58, " | ", 3);
        std::memcpy(line + 77, " |", 2);
        os.write(line, 79);
    }
}

// A block as the TCP channel dumps it: every byte value, printable or not.
std::vector<unsigned char> Block(benchmark::State& state) {
    std::vector<unsigned char> block(static_cast<size_t>(state.range(0)));
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<unsigned char>(i * 7);
    return block;
}

template <bool REUSED, typename Dump>
void HexInto(benchmark::State& state, Dump dump) {
    const std::vector<unsigned char> block = Block(state);
    std::ostringstream reused;
    const auto into = [&](std::ostringstream& line) {
        dump(line, block);
        benchmark::DoNotOptimize(line.rdbuf());
    };
    for (auto _ : state) {
        if (REUSED) {
            reused.str(std::string());
            into(reused);
        } else {
            std::ostringstream fresh;
            into(fresh);
        }
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

template <bool REUSED>
void HexPlain(benchmark::State& state) {
    HexInto<REUSED>(state, [](std::ostream& os, const std::vector<unsigned char>& block) {
        PlainHexDump(os, block.data(), static_cast<unsigned>(block.size()));
    });
}

template <bool REUSED>
void HexOurs(benchmark::State& state) {
    HexInto<REUSED>(state, [](std::ostream& os, const std::vector<unsigned char>& block) {
        os << OrnUtil::CHex(block.data(), static_cast<unsigned>(block.size()));
    });
}

BENCHMARK(HexPlain<false>)->Name("HexDumpFresh/baseline")->Arg(64)->Arg(1024);
BENCHMARK(HexOurs<false>)->Name("HexDumpFresh/chex")->Arg(64)->Arg(1024);
BENCHMARK(HexPlain<true>)->Name("HexDumpReused/baseline")->Arg(64)->Arg(1024);
BENCHMARK(HexOurs<true>)->Name("HexDumpReused/chex")->Arg(64)->Arg(1024);

} // namespace
