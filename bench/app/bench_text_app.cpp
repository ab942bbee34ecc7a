// The text family from an application's side: 1 MiB conversions beside one raw iconv call on the
// same buffers, and FormatDate's default pattern beside strftime of the same format with the
// milliseconds written in between.
#include <OrnUtils.h>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <ctime>
#include <iconv.h>
#include <string>
#include <vector>

namespace {

constexpr size_t MIB = 1 << 20;

// French-looking text: mostly ASCII, one accented letter in about every eight characters.
const std::string& Utf8Text() {
    static const std::string text = [] {
        const std::string line = "d\xC3\xA9j\xC3\xA0 vu, \xC3\xA7"
                                 "a co\xC3\xBBte 12 \xC2\xA3? Non. ";
        std::string result;
        while (result.size() + line.size() <= MIB)
            result += line;
        return result;
    }();
    return text;
}

const std::string& Latin1Text() {
    static const std::string text = [] {
        std::string result;
        for (size_t i = 0; result.size() < MIB; ++i)
            result += static_cast<char>(0x20 + i * 7 % 0xDF);
        return result;
    }();
    return text;
}

// One iconv_open, iconv and iconv_close into an output area made once, as a caller that manages
// its own buffers would do.
void RawIconv(benchmark::State& state, const char* to, const char* from,
              const std::string& (*text)()) {
    const std::string& input = text();
    std::vector<char> area(4 * input.size());
    size_t produced = 0;
    for (auto _ : state) {
        iconv_t descriptor = iconv_open(to, from);
        char* in = const_cast<char*>(input.data());
        size_t inLeft = input.size();
        char* out = area.data();
        size_t outLeft = area.size();
        if (iconv(descriptor, &in, &inLeft, &out, &outLeft) != 0)
            std::abort();
        iconv_close(descriptor);
        produced = static_cast<size_t>(out - area.data());
        benchmark::DoNotOptimize(area.data());
    }
    benchmark::DoNotOptimize(produced);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void FromUtf8Library(benchmark::State& state, const char* to) {
    const std::string& input = Utf8Text();
    std::vector<char> out;
    for (auto _ : state) {
        if (!OrnUtil::fromUTF8(to, input.data(), static_cast<int32_t>(input.size()), out))
            std::abort();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void ToUtf8Library(benchmark::State& state) {
    const std::string& input = Latin1Text();
    std::string out;
    for (auto _ : state) {
        if (!OrnUtil::toUTF8("ISO-8859-1", input.data(), static_cast<uint32_t>(input.size()), out))
            std::abort();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

BENCHMARK_CAPTURE(RawIconv, latin1, "ISO-8859-1", "UTF-8", Utf8Text)
    ->Name("FromUtf8Latin1_1MiB/baseline");
BENCHMARK_CAPTURE(FromUtf8Library, latin1, "ISO-8859-1")->Name("FromUtf8Latin1_1MiB/library");
BENCHMARK_CAPTURE(RawIconv, toLatin1, "UTF-8", "ISO-8859-1", Latin1Text)
    ->Name("ToUtf8Latin1_1MiB/baseline");
BENCHMARK(ToUtf8Library)->Name("ToUtf8Latin1_1MiB/library");
BENCHMARK_CAPTURE(RawIconv, utf16, "UTF-16LE", "UTF-8", Utf8Text)
    ->Name("FromUtf8Utf16_1MiB/baseline");
BENCHMARK_CAPTURE(FromUtf8Library, utf16, "UTF-16LE")->Name("FromUtf8Utf16_1MiB/library");

// Times a second and a millisecond apart, so that nothing that depends on the time can be reused.
constexpr int64_t START = 1564575889123;
constexpr int64_t STEP = 1001;

std::string StrftimeDefault(int64_t t) {
    const time_t seconds = static_cast<time_t>(t / 1000);
    const int ms = static_cast<int>(t % 1000);
    std::tm tm{};
    localtime_r(&seconds, &tm);
    char text[64];
    size_t length = strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.", &tm);
    text[length++] = static_cast<char>('0' + ms / 100);
    text[length++] = static_cast<char>('0' + ms / 10 % 10);
    text[length++] = static_cast<char>('0' + ms % 10);
    length += strftime(text + length, sizeof text - length, "%z", &tm);
    return std::string(text, length);
}

void FormatDateBaseline(benchmark::State& state) {
    int64_t t = START;
    for (auto _ : state) {
        benchmark::DoNotOptimize(StrftimeDefault(t));
        t += STEP;
    }
}
BENCHMARK(FormatDateBaseline)->Name("FormatDateDefault/baseline");

void FormatDateLibrary(benchmark::State& state) {
    for (int64_t t = START; t < START + 100 * STEP; t += STEP)
        if (OrnUtil::DateTime::FormatDate("", t) != StrftimeDefault(t))
            std::abort();
    int64_t t = START;
    for (auto _ : state) {
        benchmark::DoNotOptimize(OrnUtil::DateTime::FormatDate("", t));
        t += STEP;
    }
}
BENCHMARK(FormatDateLibrary)->Name("FormatDateDefault/library");

} // namespace
