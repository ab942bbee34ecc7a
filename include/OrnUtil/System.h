/// \file
/// Thread groups, libraries loaded at run time, child processes on pipes, and helpers for file
/// names, strings, URLs, environment references and directories.
///
///     int in, out, err; void* child;
///     if (OrnUtil::CreateChildProcess("sort", "-r", in, out, err, child, false)) { ... }
///     OrnUtil::SplitURL("http://host/dir/page.html", scheme, host, path, file);
#pragma once

#include <OrnUtil/Export.h>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace OrnUtil {

/// A process-wide registry of thread groups, each keyed by the identifier of the thread that
/// founded it. It only records identifiers; every operation is static and holds one mutex
/// throughout.
class ORNUTILS_API ThreadGroup {
public:
    /// Founds the caller's group with the caller as its only member; an existing group of that key
    /// is left as it is.
    static void CreateThreadGroup();
    /// Appends the caller to the first group that holds `thread`; nothing when no group holds it.
    static void AddThreadToGroup(std::thread::id thread);
    /// Removes the caller's first occurrence from the first group that holds it. The group stays,
    /// even when empty.
    static void RemoveThreadFromGroup();
    /// Removes the group keyed `group` with its members; nothing when there is none.
    static void DeleteThreadGroup(std::thread::id group);
    /// The key of the first group (in ascending key order) that holds `thread`, or the empty
    /// identifier.
    static std::thread::id GetThreadGroupId(std::thread::id thread);
    /// A copy of the members of the caller's first group, founder first; empty when it is in none.
    static std::list<std::thread::id> GetThreadGroupIds();

private:
    static std::map<std::thread::id, std::list<std::thread::id>> m_ThreadGroups;
    static std::mutex m_mutex;
};

/// Starts `program` with `arguments` (split as a Windows command line is: blanks separate, double
/// quotes group, a backslash escapes only a quote; no shell is involved; a program without "/" is
/// looked for on PATH) with its standard input, output and error on pipes. The caller gets the
/// write end of the input pipe and the read ends of the output and error pipes, all close-on-exec,
/// and owns them and `process`. False when the program could not be started: `process` is then
/// null and the descriptors lead to pipes whose other ends are closed. The bool is not used.
ORNUTILS_API bool CreateChildProcess(const std::string& program, const std::string& arguments,
                                     int& stdinFd, int& stdoutFd, int& stderrFd, void*& process,
                                     bool);

/// Waits for the child to end, without limit when `timeoutMs` < 0. True when it has ended: its exit
/// status, or 128 + the signal that ended it, is in `exitCode` (-1 when the application ignores
/// SIGCHLD, which discards it). False on time-out or a null handle. Ask as often as you like.
ORNUTILS_API bool WaitChildProcess(void* process, int timeoutMs, int& exitCode);

/// Kills the child at once (SIGKILL); wait for it to learn that it ended. False for a null handle
/// or a child that had already ended and been waited for.
ORNUTILS_API bool TerminateChildProcess(void* process);

/// Releases the handle. A child that still runs goes on; once it ends, the next call of any of the
/// three process functions reaps it. A handle must not be used by another thread while it is
/// closed.
ORNUTILS_API void CloseChildProcess(void* process);

/// Splits at the last "." of `path`: true with the parts before and after it; false without a dot,
/// with `name` the whole path and `extension` as it was.
ORNUTILS_API bool SplitFileName(const std::string& path, std::string& name, std::string& extension);

/// The tokens between delimiter bytes, empty ones included: always one more than the delimiters in
/// `text`, which ends at its first NUL byte.
///@{
ORNUTILS_API std::vector<std::string> SplitString(const std::string& text,
                                                  const std::set<char>& delimiters);
ORNUTILS_API std::vector<std::string> SplitString(const std::string& text, char delimiter);
///@}

/// Splits "http://host:80/dir/sub/page" into "http://", "host:80/", "dir/sub/" and "page". False,
/// with nothing assigned, when `url` holds no "://". Parts the URL lacks keep what the caller put
/// in them; a host or path that does not end in "/" gets one; a path holding ":" empties the host.
ORNUTILS_API bool SplitURL(const std::string& url, std::string& scheme, std::string& host,
                           std::string& path, std::string& file);

/// Replaces each `%NAME%` with the value of the environment variable NAME (case-sensitive). A
/// reference to an unset variable and a lone "%" stay as written; the text ends at its first NUL.
ORNUTILS_API std::string ExpandEnvStrings(const std::string& text);

/// Creates the directory and each missing parent ("/" and "\" both separate, repeated and trailing
/// ones are skipped). True when every component is a directory at the end; false at the first one
/// that cannot be created or is an existing file (the directories made before it stay).
ORNUTILS_API bool MakeDirectory(const std::string& path);

} // namespace OrnUtil

/// Base for a class bound to a library loaded at run time: Load opens the library and calls Bind to
/// look up entry points (with dlsym on m_hModule); Unload closes it and calls Unbind.
class ORNUTILS_API CLoadLibrary {
public:
    CLoadLibrary() = default;
    CLoadLibrary(const CLoadLibrary&) = delete;
    CLoadLibrary& operator=(const CLoadLibrary&) = delete;
    /// Closes a loaded library without calling Unbind.
    virtual ~CLoadLibrary();
    /// Loads the library at `path` (dlopen, all symbols resolved now, none made global) and returns
    /// what Bind returns. 1, without calling Bind, when a library is already loaded or `path`
    /// cannot be loaded. The library stays loaded whatever Bind returns.
    virtual int Load(const char* path);
    /// Closes the library, if one is loaded, and then calls Unbind.
    virtual void Unload();
    /// Looks up the entry points in m_hModule; runs under the object's lock.
    virtual int Bind() = 0;
    /// Forgets the entry points after the library was closed; runs under the object's lock.
    virtual void Unbind() = 0;
    /// True while a library is loaded.
    virtual bool IsLoaded();

protected:
    void* m_hModule = nullptr; ///< the dlopen handle; null when no library is loaded

private:
    std::mutex m_Mutex;
};
