// BinBuffer's puts and gets as an application makes them, through the installed library, beside
// the same stores and loads done with memcpy on a plain array.
#include <OrnUtils.h>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstring>

namespace {

constexpr int RECORDS = 64; // records written, or read back, per round
constexpr int VALUES_PER_RECORD = 5;
constexpr int RECORD_SIZE = 31;
const char NAME[16] = "block-000000001";

void BaselinePuts(benchmark::State& state) {
    static char storage[64000];
    uint32_t value = 0;
    for (auto _ : state) {
        char* write = storage;
        benchmark::DoNotOptimize(write);
        for (int i = 0; i < RECORDS; ++i) {
            const auto c = static_cast<unsigned char>(value);
            const auto s = static_cast<uint16_t>(value);
            const uint64_t ll = value * 0x9E3779B97F4A7C15ull;
            std::memcpy(write, &c, 1);
            std::memcpy(write + 1, &s, 2);
            std::memcpy(write + 3, &value, 4);
            std::memcpy(write + 7, &ll, 8);
            std::memcpy(write + 15, NAME, 16);
            write += RECORD_SIZE;
        }
        benchmark::ClobberMemory();
        ++value;
    }
    state.SetItemsProcessed(state.iterations() * RECORDS * VALUES_PER_RECORD);
}
BENCHMARK(BaselinePuts)->Name("BinBufferMixedPuts/baseline");

void LibraryPuts(benchmark::State& state) {
    OrnUtil::BinBuffer buffer;
    uint32_t value = 0;
    for (auto _ : state) {
        buffer.Clear();
        for (int i = 0; i < RECORDS; ++i) {
            buffer.PutC(static_cast<unsigned char>(value));
            buffer.PutS(static_cast<unsigned short>(value));
            buffer.PutL(value);
            buffer.PutLL(value * 0x9E3779B97F4A7C15ull);
            buffer.PutN(NAME, 16);
        }
        benchmark::ClobberMemory();
        ++value;
    }
    state.SetItemsProcessed(state.iterations() * RECORDS * VALUES_PER_RECORD);
}
BENCHMARK(LibraryPuts)->Name("BinBufferMixedPuts/library");

// The same records for the gets: one value per record varies so that no sum is constant.
void Fill(char* storage) {
    for (uint32_t i = 0; i < RECORDS; ++i) {
        std::memset(storage + i * RECORD_SIZE, static_cast<int>(i), 15);
        std::memcpy(storage + i * RECORD_SIZE + 15, NAME, 16);
    }
}

void BaselineGets(benchmark::State& state) {
    static char storage[64000];
    Fill(storage);
    for (auto _ : state) {
        const char* read = storage;
        benchmark::DoNotOptimize(read);
        uint64_t sum = 0;
        char name[16];
        for (int i = 0; i < RECORDS; ++i) {
            unsigned char c;
            uint16_t s;
            uint32_t l;
            uint64_t ll;
            std::memcpy(&c, read, 1);
            std::memcpy(&s, read + 1, 2);
            std::memcpy(&l, read + 3, 4);
            std::memcpy(&ll, read + 7, 8);
            std::memcpy(name, read + 15, 16);
            read += RECORD_SIZE;
            sum += c + s + l + ll + static_cast<unsigned char>(name[15]);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * RECORDS * VALUES_PER_RECORD);
}
BENCHMARK(BaselineGets)->Name("BinBufferMixedGets/baseline");

void LibraryGets(benchmark::State& state) {
    OrnUtil::BinBuffer buffer;
    Fill(buffer.WritePtr());
    for (auto _ : state) {
        buffer.Clear();
        buffer.ResvN(RECORDS * RECORD_SIZE);
        uint64_t sum = 0;
        char name[16];
        for (int i = 0; i < RECORDS; ++i) {
            sum += buffer.GetC();
            sum += buffer.GetS();
            sum += buffer.GetL();
            sum += buffer.GetLL();
            buffer.GetN(name, 16);
            sum += static_cast<unsigned char>(name[15]);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * RECORDS * VALUES_PER_RECORD);
}
BENCHMARK(LibraryGets)->Name("BinBufferMixedGets/library");

} // namespace
