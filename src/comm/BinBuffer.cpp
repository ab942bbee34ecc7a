#include <OrnUtil/Comm.h>
#include <stdexcept>
#include <utility>

namespace OrnUtil {

// The storage starts zeroed so that a copy never reads bytes that nobody wrote.
char* BinBuffer::Allocate(int size) {
    if (size < 0)
        throw std::bad_alloc();
    return new char[static_cast<size_t>(size)]();
}

BinBuffer::BinBuffer(const BinBuffer& other)
    : m_Size(other.m_Size), m_Data(Allocate(other.m_Size)),
      m_WritePtr(m_Data + (other.m_WritePtr - other.m_Data)),
      m_ReadPtr(m_Data + (other.m_ReadPtr - other.m_Data)) {
    std::memcpy(m_Data, other.m_Data, static_cast<size_t>(m_Size));
}

BinBuffer& BinBuffer::operator=(const BinBuffer& other) {
    if (this == &other)
        return *this;
    BinBuffer copy(other);
    std::swap(m_Size, copy.m_Size);
    std::swap(m_Data, copy.m_Data);
    std::swap(m_WritePtr, copy.m_WritePtr);
    std::swap(m_ReadPtr, copy.m_ReadPtr);
    return *this;
}

void BinBuffer::ThrowFull() {
    throw std::overflow_error("Buffer Full");
}

} // namespace OrnUtil
