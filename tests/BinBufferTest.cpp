#include <OrnUtil/Comm.h>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

using OrnUtil::BinBuffer;

namespace {

std::string Readable(BinBuffer& buffer) {
    return std::string(buffer.ReadPtr(), static_cast<size_t>(buffer.OutAvail()));
}

// The operation must throw "Buffer Full" and leave the buffer empty with its whole capacity free.
void ExpectOverflow(BinBuffer& buffer, int32_t capacity, const std::function<void()>& operation,
                    const char* what) {
    SCOPED_TRACE(what);
    try {
        operation();
        ADD_FAILURE() << "no exception";
    } catch (const std::overflow_error& error) {
        EXPECT_STREQ(error.what(), "Buffer Full");
    }
    EXPECT_EQ(buffer.OutAvail(), 0);
    EXPECT_EQ(buffer.InAvail(), capacity);
    EXPECT_EQ(buffer.ReadPtr(), buffer.WritePtr());
}

TEST(BinBuffer, ValuesAreStoredLittleEndianAndReadBack) {
    BinBuffer buffer(64);
    buffer.PutS(0x1234);
    buffer.PutL(0x01020304u);
    buffer.PutLL(0x0102030405060708ull);
    buffer.PutC(0xFE);
    buffer.PutN("xyz", 3);
    EXPECT_EQ(Readable(buffer), std::string("\x34\x12\x04\x03\x02\x01"
                                            "\x08\x07\x06\x05\x04\x03\x02\x01\xFExyz",
                                            18));
    EXPECT_EQ(buffer.GetS(), 0x1234);
    EXPECT_EQ(buffer.GetL(), 0x01020304u);
    EXPECT_EQ(buffer.GetLL(), 0x0102030405060708ull);
    EXPECT_EQ(buffer.GetC(), 0xFE);
    char text[3];
    buffer.GetN(text, 3);
    EXPECT_EQ(std::string(text, 3), "xyz");
    EXPECT_EQ(buffer.OutAvail(), 0);

    buffer.PutC(0x34);
    buffer.PutC(0x12);
    EXPECT_EQ(buffer.GetS(), 0x1234) << "a value may be read back in other pieces than written";
}

TEST(BinBuffer, CursorsMoveOnlyAsToldWithinAFixedCapacity) {
    BinBuffer defaults;
    EXPECT_EQ(defaults.InAvail(), 64000);
    EXPECT_EQ(defaults.OutAvail(), 0);

    BinBuffer buffer(4);
    buffer.PutL(7);
    EXPECT_EQ(buffer.InAvail(), 0);
    EXPECT_EQ(buffer.GetL(), 7u);
    EXPECT_EQ(buffer.InAvail(), 0);
    EXPECT_EQ(buffer.OutAvail(), 0);
    buffer.Clear();
    EXPECT_EQ(buffer.InAvail(), 4);

    // The last byte can be put and got: the checks allow equality.
    BinBuffer exact(5);
    exact.PutN("abcde", 5);
    char out[5];
    exact.GetN(out, 5);
    EXPECT_EQ(std::string(out, 5), "abcde");

    // Zero counts always succeed and change nothing.
    BinBuffer full(2);
    full.PutS(9);
    full.CheckIn(0);
    full.PutN(nullptr, 0);
    full.ResvN(0);
    EXPECT_EQ(full.OutAvail(), 2);

    BinBuffer empty(2);
    empty.CheckOut(0);
    empty.GetN(nullptr, 0);
    empty.RemvN(0);
    EXPECT_EQ(empty.InAvail(), 2);

    BinBuffer none(0);
    EXPECT_EQ(none.InAvail(), 0);
    ExpectOverflow(
        none, 0, [&] { none.PutC(1); }, "PutC into no storage");

    // In-place work reserves and removes exactly what it says.
    BinBuffer inPlace(16);
    std::memcpy(inPlace.WritePtr(), "hello", 5);
    inPlace.CheckIn(5);
    EXPECT_EQ(inPlace.OutAvail(), 0) << "a check moves no cursor";
    inPlace.ResvN(5);
    EXPECT_EQ(Readable(inPlace), "hello");
    inPlace.CheckOut(2);
    inPlace.RemvN(2);
    EXPECT_EQ(inPlace.GetC(), 'l');
    EXPECT_EQ(Readable(inPlace), "lo");
}

TEST(BinBuffer, EveryFailedCheckEmptiesTheBufferAndThrows) {
    BinBuffer buffer(4);
    struct Case {
        const char* what;
        std::function<void()> prepare, operation;
    };
    const char bytes[8] = {};
    char sink[8];
    const std::vector<Case> cases = {
        {"PutC when full", [&] { buffer.PutL(1); }, [&] { buffer.PutC(1); }},
        {"PutS with one byte free", [&] { buffer.PutN(bytes, 3); }, [&] { buffer.PutS(1); }},
        {"PutL with three free", [&] { buffer.PutC(1); }, [&] { buffer.PutL(1); }},
        {"PutLL in a 4-byte buffer", [] {}, [&] { buffer.PutLL(1); }},
        {"PutN past the end", [&] { buffer.PutC(1); }, [&] { buffer.PutN(bytes, 4); }},
        {"ResvN past the end", [] {}, [&] { buffer.ResvN(5); }},
        {"CheckIn past the end", [&] { buffer.PutC(1); }, [&] { buffer.CheckIn(4); }},
        {"GetC when empty", [] {}, [&] { buffer.GetC(); }},
        {"GetS with one byte", [&] { buffer.PutC(1); }, [&] { buffer.GetS(); }},
        {"GetL with three bytes", [&] { buffer.PutN(bytes, 3); }, [&] { buffer.GetL(); }},
        {"GetLL with four bytes", [&] { buffer.PutL(1); }, [&] { buffer.GetLL(); }},
        {"GetN past the data", [&] { buffer.PutC(1); }, [&] { buffer.GetN(sink, 2); }},
        {"RemvN past the data", [&] { buffer.PutC(1); }, [&] { buffer.RemvN(2); }},
        {"CheckOut past the data", [&] { buffer.PutC(1); }, [&] { buffer.CheckOut(2); }},
        // Negative counts would move a cursor out of the storage: they count as overflows.
        {"PutN of -1", [&] { buffer.PutC(1); }, [&] { buffer.PutN(bytes, -1); }},
        {"ResvN of -1", [&] { buffer.PutC(1); }, [&] { buffer.ResvN(-1); }},
        {"GetN of -1", [&] { buffer.PutC(1); }, [&] { buffer.GetN(sink, -1); }},
        {"RemvN of INT32_MIN", [&] { buffer.PutC(1); }, [&] { buffer.RemvN(INT32_MIN); }},
        {"CheckIn of -4", [] {}, [&] { buffer.CheckIn(-4); }},
        {"CheckOut of -1", [] {}, [&] { buffer.CheckOut(-1); }},
    };
    for (const Case& test : cases) {
        buffer.Clear();
        test.prepare();
        ExpectOverflow(buffer, 4, test.operation, test.what);
    }
}

TEST(BinBuffer, CopiesOwnTheirStorageWithCursorsAtTheSameOffsets) {
    BinBuffer original(8);
    original.PutL(0x64636261);
    original.GetC();

    BinBuffer copy(original);
    EXPECT_NE(copy.ReadPtr(), original.ReadPtr());
    EXPECT_EQ(Readable(copy), "bcd");
    EXPECT_EQ(copy.InAvail(), 4);
    copy.PutC('e');
    original.GetC();
    EXPECT_EQ(Readable(copy), "bcde");
    EXPECT_EQ(Readable(original), "cd");

    BinBuffer assigned(2);
    assigned.PutS(1);
    assigned = original;
    EXPECT_EQ(assigned.InAvail(), 4) << "assignment takes over the source's capacity";
    EXPECT_EQ(Readable(assigned), "cd");
    const BinBuffer& same = assigned;
    assigned = same;
    EXPECT_EQ(Readable(assigned), "cd");
    assigned.PutL(0);
    EXPECT_EQ(original.InAvail(), 4);
}

} // namespace
