#include "platform/Library.h"

#include <OrnUtil/System.h>

CLoadLibrary::~CLoadLibrary() {
    if (m_hModule != nullptr)
        OrnUtil::platform::CloseLibrary(m_hModule);
}

int CLoadLibrary::Load(const char* path) {
    std::lock_guard<std::mutex> guard(m_Mutex);
    int result = 1;
    if (!IsLoaded()) {
        m_hModule = OrnUtil::platform::OpenLibrary(path);
        if (m_hModule != nullptr)
            result = Bind();
    }
    return result;
}

void CLoadLibrary::Unload() {
    std::lock_guard<std::mutex> guard(m_Mutex);
    if (IsLoaded()) {
        OrnUtil::platform::CloseLibrary(m_hModule);
        m_hModule = nullptr;
        Unbind();
    }
}

bool CLoadLibrary::IsLoaded() {
    return m_hModule != nullptr;
}
