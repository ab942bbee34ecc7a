// Arbitrary sequences of puts, gets, in-place work, clears and copies on a small buffer, checked
// against a plain model of its storage and cursors.
#include "FuzzSupport.h"

#include <OrnUtil/Comm.h>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

struct Model {
    std::vector<unsigned char> storage;
    int32_t write = 0, read = 0;
    int32_t Room() const { return static_cast<int32_t>(storage.size()) - write; }
    int32_t Readable() const { return write - read; }
};

class Input {
public:
    explicit Input(const std::string& bytes)
        : m_Data(reinterpret_cast<const uint8_t*>(bytes.data())), m_Size(bytes.size()) {}
    bool Empty() const { return m_At >= m_Size; }
    uint8_t Byte() { return m_At < m_Size ? m_Data[m_At++] : 0; }
    // Counts run from -32 to 95, so that negative counts come up as well.
    int32_t Count() { return static_cast<int32_t>(Byte() % 128) - 32; }

private:
    const uint8_t* m_Data;
    size_t m_Size;
    size_t m_At = 0;
};

uint64_t ModelValue(const Model& model, int32_t bytes) {
    uint64_t value = 0;
    for (int32_t i = bytes - 1; i >= 0; --i)
        value = value << 8 | model.storage[static_cast<size_t>(model.read + i)];
    return value;
}

} // namespace

using fuzz::Require;

FUZZ_TARGET(data) {
    Input input(data);
    const int capacity = input.Byte();
    auto buffer = std::make_unique<OrnUtil::BinBuffer>(capacity);
    Model model;
    model.storage.assign(static_cast<size_t>(capacity), 0);
    unsigned char bytes[128] = {};

    while (!input.Empty()) {
        const uint8_t operation = input.Byte() % 16;
        const int32_t count = input.Count();
        const int32_t width[] = {1, 2, 4, 8};
        const bool isPut = operation < 6 || operation == 12;
        int32_t needed = operation < 4    ? width[operation]
                         : operation < 6  ? count
                         : operation < 10 ? width[operation - 6]
                         : operation < 14 ? count
                                          : 0;
        const bool fits = needed >= 0 && needed <= (isPut ? model.Room() : model.Readable());
        uint64_t value = 0;
        for (int i = 0; i < 8; ++i)
            value = value << 8 | input.Byte();
        for (auto& byte : bytes)
            byte = static_cast<unsigned char>(value >> (byte % 8));
        // A get is compared only once it has succeeded: the model has no bytes past its cursor.
        try {
            switch (operation) {
            case 0:
                buffer->PutC(static_cast<unsigned char>(value));
                break;
            case 1:
                buffer->PutS(static_cast<unsigned short>(value));
                break;
            case 2:
                buffer->PutL(static_cast<unsigned int>(value));
                break;
            case 3:
                buffer->PutLL(value);
                break;
            case 4:
                buffer->PutN(reinterpret_cast<const char*>(bytes), count);
                break;
            case 5:
                buffer->ResvN(count);
                break;
            case 6:
                Require(static_cast<uint64_t>(buffer->GetC()) == ModelValue(model, 1));
                break;
            case 7:
                Require(static_cast<uint64_t>(buffer->GetS()) == ModelValue(model, 2));
                break;
            case 8:
                Require(static_cast<uint64_t>(buffer->GetL()) == ModelValue(model, 4));
                break;
            case 9:
                Require(static_cast<uint64_t>(buffer->GetLL()) == ModelValue(model, 8));
                break;
            case 10: {
                char out[128];
                buffer->GetN(out, count);
                Require(count == 0 || std::memcmp(out, model.storage.data() + model.read,
                                                  static_cast<size_t>(count)) == 0);
                break;
            }
            case 11:
                buffer->RemvN(count);
                break;
            case 12:
                buffer->CheckIn(count);
                needed = 0;
                break;
            case 13:
                buffer->CheckOut(count);
                needed = 0;
                break;
            case 14:
                buffer->Clear();
                model.write = model.read = 0;
                break;
            default:
                if (value % 2 == 0) {
                    buffer = std::make_unique<OrnUtil::BinBuffer>(*buffer);
                } else {
                    auto assigned =
                        std::make_unique<OrnUtil::BinBuffer>(static_cast<int>(value % 7));
                    *assigned = *buffer;
                    buffer = std::move(assigned);
                }
                break;
            }
            Require(fits);
            if (isPut && operation < 4) {
                for (int32_t i = 0; i < needed; ++i)
                    model.storage[static_cast<size_t>(model.write + i)] =
                        static_cast<unsigned char>(value >> (8 * i));
            } else if (operation == 4 && count > 0) {
                std::memcpy(model.storage.data() + model.write, bytes, static_cast<size_t>(count));
            }
            if (isPut)
                model.write += needed;
            else if (operation >= 6 && operation < 12)
                model.read += needed;
        } catch (const std::overflow_error& error) {
            Require(!fits && std::strcmp(error.what(), "Buffer Full") == 0);
            model.write = model.read = 0;
        }
        Require(buffer->InAvail() == model.Room() && buffer->OutAvail() == model.Readable());
    }
}
