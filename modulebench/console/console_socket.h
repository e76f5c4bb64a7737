// The few operating-system calls the remote console needs, behind one set of
// names so that the console logic compiles unchanged against Winsock (the
// program) and BSD sockets (the host tests, which drive it over loopback).
//
// Each function is a single call of the platform (or a fixed short sequence of
// them) with the console's arguments passed through; none adds policy. The
// Winsock side lives in win32/console_socket_win32.cpp, the BSD side in
// console_socket_posix.cpp; the build picks one.
#pragma once

#include <cstdint>

// A socket as the platform knows it: a SOCKET on Windows, a file descriptor
// elsewhere. All bits set means "no socket", which is INVALID_SOCKET on Windows.
typedef uintptr_t ConsoleSocket;
constexpr ConsoleSocket kConsoleNoSocket = ~static_cast<ConsoleSocket>(0);

// Starts the socket library at exactly version 2.2. A library granting any
// other version is shut down again and false returned. Always true on POSIX.
bool ConsoleSockStartup();

// socket(AF_INET, SOCK_STREAM, IPPROTO_TCP); kConsoleNoSocket on failure.
ConsoleSocket ConsoleSockOpenTcp();

// bind to INADDR_ANY and the given port (port 0: any free port), and why it
// failed when it did: the port held by another socket, or not ours to take.
enum class ConsoleBindResult : uint8_t { Bound, InUse, Denied, Failed };
ConsoleBindResult ConsoleSockBindAny(ConsoleSocket s, uint16_t port);

// The platform's code for the last failed socket call of this thread
// (WSAGetLastError, errno).
int ConsoleSockLastError();

bool ConsoleSockListen(ConsoleSocket s, int backlog);

// accept without looking at the peer's address; kConsoleNoSocket on failure.
ConsoleSocket ConsoleSockAccept(ConsoleSocket listener);

// setsockopt calls whose results the console ignores.
void ConsoleSockSetNoDelay(ConsoleSocket s);
void ConsoleSockSetBuffers(ConsoleSocket s, int bytes);

// Makes the client socket ready for ConsoleSockSendWithin while recv on it
// still waits for data. Winsock: the socket becomes non-blocking (recv then
// waits in select). BSD: nothing (each send asks not to block by itself).
void ConsoleSockPrepareBoundedSends(ConsoleSocket s);

// recv with flags 0, waiting until data, the end of the stream or an error
// arrives: bytes received, 0 at the end of the stream, < 0 on error.
int ConsoleSockRecv(ConsoleSocket s, char *buffer, int size);

// Sends the whole buffer, waiting for room in the socket's send buffer at
// most timeout_ms in all (0: only what fits at once). False when not all of
// it went within that time or the send failed. On POSIX a peer that has gone
// must not kill the process with SIGPIPE, so MSG_NOSIGNAL is added.
bool ConsoleSockSendWithin(ConsoleSocket s, const char *data, int length, unsigned timeout_ms);

void ConsoleSockClose(ConsoleSocket s);

// Ends both directions without releasing the socket, so that a recv or a send
// waiting on it in another thread returns.
void ConsoleSockShutdown(ConsoleSocket s);

// The local port a bound socket got; 0 when it cannot be read.
uint16_t ConsoleSockLocalPort(ConsoleSocket s);

// Connects to 127.0.0.1:port and returns the socket (kConsoleNoSocket on
// failure). Used only to wake the accept thread when tests stop the console.
ConsoleSocket ConsoleSockConnectLoopback(uint16_t port);

// Starts proc on a new thread with the default stack size; the thread is not
// joined and its handle is not kept.
bool ConsoleStartThread(void (*proc)());
