/* Added by the library at the override point of Debian's duktape configuration: the hook through
 * which a script that runs past its time is ended (src/proxy/linux/PacHeap.cpp), and C++
 * exceptions for the interpreter's errors. */
extern "C" int OrnPacTimedOut(void* heapData);
#define DUK_USE_CPP_EXCEPTIONS
#define DUK_USE_INTERRUPT_COUNTER
#define DUK_USE_EXEC_TIMEOUT_CHECK(udata) OrnPacTimedOut(udata)
