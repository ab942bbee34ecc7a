// Child processes on pipes (the tour talks framed messages with a copy of itself), a library
// loaded at run time, thread groups, and the name helpers.
#include "TestSupport.h"
#include "Tour.h"

#include <OrnUtils.h>
#include <cctype>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

// The tour's own executable, started again as the child of the exchange below.
std::string SelfPath() {
    char path[4096];
    const ssize_t size = readlink("/proc/self/exe", path, sizeof path - 1);
    return size > 0 ? std::string(path, static_cast<size_t>(size)) : std::string();
}

void FramedExchange() {
    int in, out, err, code = -1;
    void* child = nullptr;
    // The program is quoted: a path with blanks is still one token.
    if (!OrnUtil::CreateChildProcess("\"" + SelfPath() + "\"", "--framed-child", in, out, err,
                                     child, false)) {
        std::cout << "the child could not be started\n";
        close(in), close(out), close(err);
        return;
    }
    {
        // The child's output is our input and the other way round.
        auto channel = std::make_shared<OrnUtil::CCommFd>(out, in);
        channel->Connect();
        CCommBufBinOut request(channel);
        CCommBufBinIn reply(channel);
        for (const char* text : {"status?", "flash block 7"}) {
            request.Clear();
            request.PutN(text, static_cast<int32_t>(std::strlen(text)));
            if (request.Send() && reply.Recv())
                std::cout << "  sent \"" << text << "\", the child answered \"" << reply.ReadPtr()
                          << "\"\n";
        }
        channel->Disconnect(); // closes the child's input: it sees the end and leaves
    }
    OrnUtil::WaitChildProcess(child, -1, code);
    OrnUtil::CloseChildProcess(child);
    close(out), close(err);
    std::cout << "  the child ended with exit code " << code << "\n";
}

void ChildProcesses() {
    std::cout << "Framed messages with a child over its standard input and output:\n";
    FramedExchange();

    // The command line is split as Windows splits it, and never reaches a shell.
    int in, out, err, code = -1;
    void* child = nullptr;
    OrnUtil::CreateChildProcess("printf", R"("[%s]\n" "two words" $(id) ; * a\"b)", in, out, err,
                                child, false);
    close(in);
    std::cout << "printf received its arguments untouched:\n" << testing_support::ReadToEnd(out);
    OrnUtil::WaitChildProcess(child, -1, code);
    OrnUtil::CloseChildProcess(child);
    close(out), close(err);
}

// Binds cos from the C maths library when Load opens it.
class CMathLibrary : public CLoadLibrary {
public:
    double (*m_Cos)(double) = nullptr;
    int Bind() override {
        m_Cos = reinterpret_cast<double (*)(double)>(dlsym(m_hModule, "cos"));
        return m_Cos != nullptr ? 0 : 2;
    }
    void Unbind() override { m_Cos = nullptr; }
};

void RunTimeLibrary() {
    CMathLibrary maths;
    if (maths.Load("libm.so.6") == 0)
        std::cout << "cos(0) through libm.so.6, loaded at run time: " << maths.m_Cos(0.0) << "\n";
    maths.Unload();
    std::cout << "after Unload, loaded: " << std::boolalpha << maths.IsLoaded() << "\n";
}

void ThreadGroups() {
    OrnUtil::ThreadGroup::CreateThreadGroup();
    const std::thread::id founder = std::this_thread::get_id();
    std::thread worker([founder] {
        OrnUtil::ThreadGroup::AddThreadToGroup(founder);
        std::cout << "a worker joined; the group has "
                  << OrnUtil::ThreadGroup::GetThreadGroupIds().size() << " members\n";
        OrnUtil::ThreadGroup::RemoveThreadFromGroup();
    });
    worker.join();
    OrnUtil::ThreadGroup::DeleteThreadGroup(founder);
}

void Names() {
    std::string scheme, host, path, file;
    OrnUtil::SplitURL("HTTP://updates.example:8080/images/2024/flash.bin", scheme, host, path,
                      file);
    std::cout << "URL parts: " << scheme << " | " << host << " | " << path << " | " << file << "\n";

    std::string name, extension;
    OrnUtil::SplitFileName("backup.tar.gz", name, extension);
    std::cout << "backup.tar.gz: name " << name << ", extension " << extension << "\n";

    std::cout << "%APPDATA% expands to " << OrnUtil::ExpandEnvStrings("%APPDATA%")
              << "; %NOT_SET% stays " << OrnUtil::ExpandEnvStrings("%NOT_SET%") << "\n";

    const auto fields = OrnUtil::SplitString("COM3;115200;;8N1", ';');
    std::cout << "COM3;115200;;8N1 has " << fields.size() << " fields, the third empty\n";

    const std::string folder = OrnUtil::ExpandEnvStrings("%APPDATA%\\Marlek\\ORN\\Images//2024/");
    std::cout << "MakeDirectory(" << folder << "): " << std::boolalpha
              << OrnUtil::MakeDirectory(folder) << "\n";
}

} // namespace

int FramedChild() {
    auto channel = std::make_shared<OrnUtil::CCommSTDIO>();
    channel->Connect();
    CCommBufBinIn request(channel);
    CCommBufBinOut reply(channel);
    while (request.Recv()) {
        std::string text = request.ReadPtr();
        for (char& c : text)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        reply.Clear();
        reply.PutN(text.data(), static_cast<int32_t>(text.size()));
        if (!reply.Send())
            return 1;
    }
    return 0;
}

void TourSystem() {
    Section("Child processes");
    ChildProcesses();
    Section("A library loaded at run time");
    RunTimeLibrary();
    Section("Thread groups");
    ThreadGroups();
    Section("Names, URLs, environment and folders");
    Names();
}
