/// \file
/// A fixed-capacity byte buffer, channels over descriptors and TCP with a receive that another
/// thread can cancel, and adapters that carry length-prefixed messages over any channel.
///
///     auto channel = std::make_shared<OrnUtil::CCommTCP>("127.0.0.1", 4500);
///     channel->Connect();
///     CCommBufBinOut out(channel); out.PutL(42); out.Send();   // 04 00 00 00 2A 00 00 00
#pragma once

#include <OrnUtil/Export.h>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace OrnUtil {

namespace internal {
class CancelGate;
} // namespace internal

/// A byte buffer of fixed capacity with a write cursor and a read cursor. Values are stored
/// little-endian without alignment. Any put without room, or get without data, empties the buffer
/// and throws std::overflow_error("Buffer Full"); so does a negative count.
///
///     OrnUtil::BinBuffer buffer(16);
///     buffer.PutS(0x1234);            // stores 34 12
///     unsigned short value = buffer.GetS();
class ORNUTILS_API BinBuffer {
public:
    /// `size` bytes of storage, both cursors at its start; std::bad_alloc if it cannot be had.
    explicit BinBuffer(int size = 64000)
        : m_Size(size), m_Data(Allocate(size)), m_WritePtr(m_Data), m_ReadPtr(m_Data) {}
    /// The copy holds its own storage with the same bytes and the cursors at the same offsets.
    ///@{
    BinBuffer(const BinBuffer& other);
    BinBuffer& operator=(const BinBuffer& other);
    ///@}
    virtual ~BinBuffer() { delete[] m_Data; }

    /// Both cursors back to the start; the bytes stay as they are.
    void Clear() { m_WritePtr = m_ReadPtr = m_Data; }
    /// Where the next put writes, for receiving in place before ResvN.
    char* WritePtr() { return m_WritePtr; }
    /// The next unread byte, for parsing in place before RemvN.
    char* ReadPtr() { return m_ReadPtr; }
    /// Bytes that can still be put. Bytes already read are not given back until Clear.
    int32_t InAvail() const { return static_cast<int32_t>(m_Data + m_Size - m_WritePtr); }
    /// Bytes that can still be got.
    int32_t OutAvail() const { return static_cast<int32_t>(m_WritePtr - m_ReadPtr); }

    /// Nothing when `n` bytes can be put (or got); else empties the buffer and throws.
    ///@{
    void CheckIn(int n) { NeedRoom(m_WritePtr, n); }
    void CheckOut(int32_t n) { NeedData(m_ReadPtr, n); }
    ///@}

    /// Puts an 8-, 16-, 32- or 64-bit value at the write cursor, little-endian.
    ///@{
    void PutC(unsigned char value) { Put(value); }
    void PutS(unsigned short value) { Put(value); }
    void PutL(unsigned int value) { Put(value); }
    void PutLL(unsigned long long value) { Put(value); }
    ///@}
    /// Copies `n` bytes from `source` to the write cursor.
    void PutN(const char* source, int32_t n) {
        char* const at = m_WritePtr;
        NeedRoom(at, n);
        if (n != 0)
            std::memcpy(at, source, static_cast<uint32_t>(n));
        m_WritePtr = at + n;
    }
    /// Makes the next `n` bytes at WritePtr() readable without writing them.
    void ResvN(int32_t n) {
        char* const at = m_WritePtr;
        NeedRoom(at, n);
        m_WritePtr = at + n;
    }

    /// Gets an 8-, 16-, 32- or 64-bit value from the read cursor, little-endian.
    ///@{
    unsigned char GetC() { return Get<unsigned char>(); }
    unsigned short GetS() { return Get<unsigned short>(); }
    unsigned int GetL() { return Get<unsigned int>(); }
    unsigned long long GetLL() { return Get<unsigned long long>(); }
    ///@}
    /// Copies `n` bytes from the read cursor to `destination`.
    void GetN(char* destination, int32_t n) {
        char* const at = m_ReadPtr;
        NeedData(at, n);
        if (n != 0)
            std::memcpy(destination, at, static_cast<uint32_t>(n));
        m_ReadPtr = at + n;
    }
    /// Skips `n` readable bytes.
    void RemvN(int32_t n) {
        char* const at = m_ReadPtr;
        NeedData(at, n);
        m_ReadPtr = at + n;
    }

private:
    // The count is taken unsigned, so a negative one reaches past any storage and is refused
    // with the rest. Addresses are compared as integers: a pointer past the storage would be
    // undefined, and the sum is what the compiler can reuse as the next cursor. The cursor comes
    // in a local and goes back with the step made: where the compiler cannot rule out that a
    // store into the storage hits the members, it would otherwise read the cursor from memory
    // again after every store.
    void NeedRoom(const char* writeAt, int32_t n) {
        if (reinterpret_cast<uintptr_t>(writeAt) + static_cast<uint32_t>(n) >
            reinterpret_cast<uintptr_t>(m_Data + m_Size))
            Overflow();
    }
    void NeedData(const char* readAt, int32_t n) {
        if (reinterpret_cast<uintptr_t>(readAt) + static_cast<uint32_t>(n) >
            reinterpret_cast<uintptr_t>(m_WritePtr))
            Overflow();
    }
    // Inlined even where the compiler finds it cold: called out of line it would take the
    // object's address, and every cursor would have to be in memory at every check. Inline, the
    // compiler sees that both cursors are overwritten before the throw.
    [[noreturn]] __attribute__((always_inline)) void Overflow() {
        Clear();
        ThrowFull();
    }
    // Neither of these sees the object. Constructor, destructor and overflow being inline, a
    // buffer that an application keeps on its stack never escapes, and the compiler may keep its
    // cursors in registers across the stores into the storage.
    [[noreturn]] __attribute__((cold)) static void ThrowFull();
    static char* Allocate(int size);

    template <typename T>
    static T LittleEndian(T value) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        if constexpr (sizeof(T) == 2)
            return __builtin_bswap16(value);
        else if constexpr (sizeof(T) == 4)
            return __builtin_bswap32(value);
        else if constexpr (sizeof(T) == 8)
            return __builtin_bswap64(value);
#endif
        return value;
    }
    template <typename T>
    void Put(T value) {
        char* const at = m_WritePtr;
        NeedRoom(at, sizeof(T));
        value = LittleEndian(value);
        std::memcpy(at, &value, sizeof(T));
        m_WritePtr = at + sizeof(T);
    }
    template <typename T>
    T Get() {
        char* const at = m_ReadPtr;
        NeedData(at, sizeof(T));
        T value;
        std::memcpy(&value, at, sizeof(T));
        m_ReadPtr = at + sizeof(T);
        return LittleEndian(value);
    }

    int32_t m_Size;
    char* m_Data;
    char* m_WritePtr;
    char* m_ReadPtr;
};

/// The base of the channel family: bytes between the caller's memory and a peer through an input
/// and an output descriptor, with a receive that CancelRecv (from any thread) or Disconnect ends.
/// Channels are shared as std::shared_ptr<CComm>. Nothing throws; failures are false.
class ORNUTILS_API CComm {
public:
    /// A socket option as setsockopt takes it.
    struct CommOption {
        uint32_t Level; ///< the protocol level, such as SOL_SOCKET or IPPROTO_TCP
        uint32_t Name;  ///< the option, such as SO_RCVBUF
        uint32_t Value; ///< its value
    };
    /// The descriptor value that means "none".
    static constexpr unsigned int NONE = 0xFFFFFFFFu;

    /// True between a successful Connect and Disconnect.
    const bool& Connected;

    /// The copy is connected when the original is, with its own cancel signal and its own
    /// duplicate of the output descriptor, so that each object closes only what it holds.
    CComm(const CComm& other);
    /// Disconnects a connected channel. A copy closes its duplicate also when it is not connected.
    virtual ~CComm();

    /// Creates the cancel signal and marks the channel connected; true also when it already was.
    /// False only when the system has no descriptor left for the signal.
    virtual bool Connect();
    /// Ends a receive waiting in another thread, closes the cancel signal and the output
    /// descriptor (the input stays the caller's). False when not connected.
    virtual bool Disconnect();
    /// Writes all `n` bytes, continuing partial and interrupted writes. False when not connected
    /// or when the peer is gone; never raises SIGPIPE.
    virtual bool Send(unsigned int n, const char* data);
    /// Reads exactly `n` bytes into `data`. False when cancelled, at end of input or on an error
    /// (the bytes received so far stay in place), and on a channel that is not connected; true for
    /// n = 0 in any case.
    virtual bool Recv(unsigned int n, char* data);
    /// Ends the receive waiting now, or else the next one: at most one cancel is pending. True.
    virtual bool CancelRecv();
    /// Records an option while not connected (applied by ApplyOptions at Connect); a descriptor
    /// channel ignores options. True.
    virtual bool SetOption(unsigned int level, unsigned int name, unsigned int value);

    /// The input and the output descriptor; NONE where there is none.
    ///@{
    unsigned int FdIn() const { return m_FdIn; }
    unsigned int FdOut() const { return m_FdOut; }
    ///@}

protected:
    /// A channel on `in` and `out` (NONE for both without arguments), not connected.
    ///@{
    CComm();
    CComm(unsigned int in, unsigned int out);
    ///@}
    /// Changes nothing: a channel's descriptors are never shared by assignment.
    CComm& operator=(CComm&) { return *this; }

    /// The base keeps the options and applies none. True.
    virtual bool ApplyOptions();
    /// True while connected; any thread may ask.
    bool IsConnected() const { return __atomic_load_n(&m_Connected, __ATOMIC_ACQUIRE); }

    bool m_Connected;                  ///< what Connected and IsConnected report
    unsigned int m_FdIn;               ///< read by Recv; the channel never closes it
    unsigned int m_FdOut;              ///< written by Send; closed by Disconnect
    std::vector<CommOption> m_Options; ///< the options SetOption recorded, oldest first
    std::unique_ptr<internal::CancelGate> m_CancelSem; ///< what CancelRecv and Disconnect signal
};

/// A channel on a descriptor pair, for instance the pipes of a child process. Disconnect closes
/// the output descriptor.
class ORNUTILS_API CCommFd : public CComm {
public:
    /// Reads and writes `fd`.
    explicit CCommFd(int fd);
    /// Reads `in` and writes `out`.
    CCommFd(int in, int out);
    /// The copy is made as CComm's; assignment changes nothing.
    ///@{
    CCommFd(const CCommFd& other) = default;
    CCommFd& operator=(const CCommFd&) { return *this; }
    CCommFd& operator=(CCommFd&&) { return *this; }
    ///@}
};

/// Reads the process's standard input; sends fail. Disconnect closes nothing.
class ORNUTILS_API CCommSTDIN : public CComm {
public:
    CCommSTDIN();
    /// A copy (a move too) is made as CComm's; assignment changes nothing.
    ///@{
    CCommSTDIN(const CCommSTDIN& other);
    CCommSTDIN(CCommSTDIN&& other);
    CCommSTDIN& operator=(const CCommSTDIN&) { return *this; }
    CCommSTDIN& operator=(CCommSTDIN&&) { return *this; }
    ///@}
};

/// Writes the process's standard output; receives fail. Disconnect closes standard output.
class ORNUTILS_API CCommSTDOUT : public CComm {
public:
    CCommSTDOUT();
    /// A copy (a move too) is made as CComm's; assignment changes nothing.
    ///@{
    CCommSTDOUT(const CCommSTDOUT& other);
    CCommSTDOUT(CCommSTDOUT&& other);
    CCommSTDOUT& operator=(const CCommSTDOUT&) { return *this; }
    CCommSTDOUT& operator=(CCommSTDOUT&&) { return *this; }
    ///@}
};

/// Reads standard input and writes standard output. Disconnect closes standard output.
class ORNUTILS_API CCommSTDIO : public CComm {
public:
    CCommSTDIO();
    /// A copy (a move too) is made as CComm's; assignment changes nothing.
    ///@{
    CCommSTDIO(const CCommSTDIO& other);
    CCommSTDIO(CCommSTDIO&& other);
    CCommSTDIO& operator=(const CCommSTDIO&) { return *this; }
    CCommSTDIO& operator=(CCommSTDIO&&) { return *this; }
    ///@}
};

/// A TCP client channel to an IPv4 peer, with TCP_NODELAY on every connection. It logs its steps
/// to APP (DEBUG and finer) and its failures at ERROR, and dumps its traffic at DEBUG3.
///
///     OrnUtil::CCommTCP channel("localhost", 4500);
///     if (channel.Connect() && channel.Send(5, "hello")) ...
class ORNUTILS_API CCommTCP : public CComm {
public:
    /// Wraps a connected socket: connected on return, TCP_NODELAY set. Takes over the socket.
    explicit CCommTCP(unsigned int socket);
    /// A peer address in host byte order (0x7F000001 for 127.0.0.1). Not connected.
    CCommTCP(unsigned int addr, unsigned short port);
    /// A host name or dotted address; text that is neither makes the address 255.255.255.255,
    /// and Connect then fails. Not connected.
    CCommTCP(std::string host, unsigned short port);
    /// The copy is made as CComm's, with the peer's address and port.
    CCommTCP(const CCommTCP& other) = default;
    /// Copies the peer's address and port only.
    CCommTCP& operator=(CCommTCP& other);
    ~CCommTCP() override;

    /// Opens a socket, applies the recorded options newest first, connects, then sets
    /// TCP_NODELAY. False (with an ERROR line) when the options or the connection fail.
    bool Connect() override;
    /// Ends a receive waiting in another thread and closes the socket (the connection ends once
    /// no copy holds it either); false when the channel was not connected.
    bool Disconnect() override;
    /// Sends all `n` bytes; false when not connected or on an error ("WSASend: " and the errno).
    bool Send(unsigned int n, const char* data) override;
    /// Receives exactly `n` bytes; false when not connected, cancelled ("Cancelled" at INFO), when
    /// the peer closes, or on an error. The bytes received so far stay in place.
    bool Recv(unsigned int n, char* data) override;
    /// Records the option while not connected; applies it at once while connected, false when
    /// the socket refuses it.
    bool SetOption(unsigned int level, unsigned int name, unsigned int value) override;
    /// Applies the recorded options to the socket, newest first, removing each one applied.
    /// False at the first refusal, which stays recorded with every older option.
    bool ApplyOptions() override;

protected:
    /// Nothing to start on this platform: sets WsaErr to 0. True.
    bool InitWS2();
    /// Closes this object's descriptor of the socket; a copy's stays open. True.
    bool CloseSocket();

    static int32_t WsaErr; ///< 0: this platform has no socket layer to start

    uint32_t m_PeerAddr; ///< the peer's IPv4 address in host byte order
    uint16_t m_PeerPort; ///< the peer's port
};

} // namespace OrnUtil

/// Receives one length-prefixed message (4-byte little-endian length, then the payload) into its
/// 512000-byte buffer and terminates it with a NUL byte.
///
///     CCommBufBinIn in(channel);
///     if (in.Recv()) std::string text(in.ReadPtr());
class ORNUTILS_API CCommBufBinIn : public OrnUtil::BinBuffer {
public:
    /// Receives from `comm`.
    explicit CCommBufBinIn(const std::shared_ptr<OrnUtil::CComm>& comm);
    /// The copy holds the same bytes and shares the channel.
    ///@{
    CCommBufBinIn(const CCommBufBinIn& other) = default;
    CCommBufBinIn& operator=(const CCommBufBinIn& other) = default;
    ///@}
    ~CCommBufBinIn() override;

    /// True with the payload and a NUL byte in the buffer; true with "{}" and a NUL byte for a
    /// message too long for the buffer or broken off in its payload (its bytes are drained). False
    /// when the length itself cannot be received, the buffer then left as it was.
    ///
    /// A CancelRecv ends a receive that waits for the length with false. Once the length is in,
    /// a CancelRecv breaks the payload off and the drain waits for the rest of the announced
    /// bytes; a second CancelRecv, Disconnect or the peer closing ends it, with true and "{}".
    virtual bool Recv();

private:
    // The channel's own Recv while it is connected, else false.
    virtual bool Recv(unsigned int n, char* data);

    std::shared_ptr<OrnUtil::CComm> m_Comm;
};

/// Collects a message in its 64000-byte buffer and sends it with its length prefix. The prefix
/// and the payload are two sends, so messages sent from several threads on one channel
/// interleave: one sender at a time per channel, or a lock around Send().
///
///     CCommBufBinOut out(channel);
///     out.PutN("hello", 5);
///     out.Send();                      // 05 00 00 00 68 65 6C 6C 6F
class ORNUTILS_API CCommBufBinOut : public OrnUtil::BinBuffer {
public:
    /// Sends through `comm`.
    explicit CCommBufBinOut(const std::shared_ptr<OrnUtil::CComm>& comm);
    /// The copy holds the same bytes and shares the channel.
    ///@{
    CCommBufBinOut(const CCommBufBinOut& other) = default;
    CCommBufBinOut& operator=(const CCommBufBinOut& other) = default;
    ///@}
    ~CCommBufBinOut() override;

    /// The channel's own Send while it is connected, else false.
    virtual bool Send(unsigned int n, const char* data);
    /// Sends the readable bytes as one message and empties the buffer. False when the buffer is
    /// empty or the channel refuses; the message then stays in the buffer.
    virtual bool Send();

private:
    std::shared_ptr<OrnUtil::CComm> m_Comm;
};
