// Starting /bin/true and waiting for it through the library (three pipes, the command line split,
// the process handle) beside posix_spawn and waitpid used directly.
#include <OrnUtils.h>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

void Baseline(benchmark::State& state) {
    char program[] = "/bin/true";
    char* argv[] = {program, nullptr};
    for (auto _ : state) {
        pid_t pid = -1;
        if (posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0)
            std::abort();
        int status = 0;
        waitpid(pid, &status, 0);
        benchmark::DoNotOptimize(status);
    }
}
BENCHMARK(Baseline)->Name("SpawnTrueAndWait/baseline")->UseRealTime();

void Library(benchmark::State& state) {
    for (auto _ : state) {
        int in, out, err, code = -1;
        void* process = nullptr;
        if (!OrnUtil::CreateChildProcess("/bin/true", "", in, out, err, process, false))
            std::abort();
        OrnUtil::WaitChildProcess(process, -1, code);
        OrnUtil::CloseChildProcess(process);
        close(in);
        close(out);
        close(err);
        benchmark::DoNotOptimize(code);
    }
}
BENCHMARK(Library)->Name("SpawnTrueAndWait/library")->UseRealTime();

} // namespace
