// The channels on plain descriptors: a given pair, and the process's standard streams.
#include <OrnUtil/Comm.h>
#include <cstdio>

namespace OrnUtil {

namespace {

unsigned int Stdin() {
    return static_cast<unsigned int>(fileno(stdin));
}

unsigned int Stdout() {
    return static_cast<unsigned int>(fileno(stdout));
}

} // namespace

CCommFd::CCommFd(int fd) : CComm(static_cast<unsigned int>(fd), static_cast<unsigned int>(fd)) {}

CCommFd::CCommFd(int in, int out)
    : CComm(static_cast<unsigned int>(in), static_cast<unsigned int>(out)) {}

CCommSTDIN::CCommSTDIN() : CComm(Stdin(), NONE) {}
CCommSTDIN::CCommSTDIN(const CCommSTDIN& other) : CComm(other) {}
CCommSTDIN::CCommSTDIN(CCommSTDIN&& other) : CComm(other) {}

CCommSTDOUT::CCommSTDOUT() : CComm(NONE, Stdout()) {}
CCommSTDOUT::CCommSTDOUT(const CCommSTDOUT& other) : CComm(other) {}
CCommSTDOUT::CCommSTDOUT(CCommSTDOUT&& other) : CComm(other) {}

CCommSTDIO::CCommSTDIO() : CComm(Stdin(), Stdout()) {}
CCommSTDIO::CCommSTDIO(const CCommSTDIO& other) : CComm(other) {}
CCommSTDIO::CCommSTDIO(CCommSTDIO&& other) : CComm(other) {}

} // namespace OrnUtil
