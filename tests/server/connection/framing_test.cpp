// The connection handler over real sockets, in-process: a reactor thread
// with an acceptor on a free port, and handlers that record what their
// worker hands to the protocol.
#include "vurude_acceptor.h"
#include "vurude_base_handler.h"
#include "vurude_handle_registry.h"
#include "vurude_reactor.h"

#include <xercesc/util/PlatformUtils.hpp>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <algorithm>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace
{
using namespace std::chrono_literals;

// What the workers received, in order, shared by all recording handlers.
struct Received
{
  std::mutex lock;
  std::condition_variable changed;
  std::deque<std::string> requests;
  // While closed, handle_mb waits: the worker is busy.
  bool gate_open = true;
  // Socket reads done by the reactor so far.
  long reads = 0;

  void wait_for_reads (long count)
  {
    std::unique_lock<std::mutex> guard (lock);
    changed.wait_for (guard, 10s, [&] { return reads >= count; });
  }

  std::string next (std::chrono::milliseconds timeout = 10s)
  {
    std::unique_lock<std::mutex> guard (lock);
    if (!changed.wait_for (guard, timeout, [&] { return !requests.empty (); }))
      return "<nothing>";
    std::string request = requests.front ();
    requests.pop_front ();
    return request;
  }

  void open_gate ()
  {
    std::lock_guard<std::mutex> guard (lock);
    gate_open = true;
    changed.notify_all ();
  }
};

Received received;

class Recording_Handler : public Vurude_Base_Handler
{
public:
  int handle_input (ACE_HANDLE handle) override
  {
    const int result = Vurude_Base_Handler::handle_input (handle);
    std::lock_guard<std::mutex> guard (received.lock);
    ++received.reads;
    received.changed.notify_all ();
    return result;
  }

  int handle_mb (ACE_Message_Block *chain) override
  {
    std::string bytes;
    for (ACE_Message_Block *block = chain; block; block = block->cont ())
      bytes.append (block->rd_ptr (), block->length ());
    std::unique_lock<std::mutex> guard (received.lock);
    received.requests.push_back (bytes);
    received.changed.notify_all ();
    received.changed.wait (guard, [] { return received.gate_open; });
    return bytes == "quit" ? 13 : 0;
  }
};

// Holds the reactor thread inside a notification until released.
class Reactor_Stall : public ACE_Event_Handler
{
public:
  // Returns once the reactor thread is held.
  void hold (ACE_Reactor &reactor)
  {
    ASSERT_EQ (reactor.notify (this, ACE_Event_Handler::EXCEPT_MASK), 0);
    std::unique_lock<std::mutex> guard (lock_);
    changed_.wait (guard, [this] { return inside_; });
  }

  void release ()
  {
    std::lock_guard<std::mutex> guard (lock_);
    released_ = true;
    changed_.notify_all ();
  }

  int handle_exception (ACE_HANDLE) override
  {
    std::unique_lock<std::mutex> guard (lock_);
    inside_ = true;
    changed_.notify_all ();
    changed_.wait (guard, [this] { return released_; });
    return 0;
  }

private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool inside_ = false;
  bool released_ = false;
};

class Framing : public testing::Test
{
protected:
  static void SetUpTestSuite () { xercesc::XMLPlatformUtils::Initialize (); }

  void SetUp () override
  {
    received.requests.clear ();
    received.gate_open = true;
    // As the server does: handlers made without a reactor of their own take
    // this one, and no select-based default reactor is ever made (it would
    // fail on descriptors beyond 1024, which some of these tests open).
    previous_reactor = ACE_Reactor::instance (&reactor);
    ACE_INET_Addr any (static_cast<u_short> (0), "127.0.0.1");
    ASSERT_EQ (acceptor.open (any, &reactor), 0);
    ACE_INET_Addr bound;
    acceptor.acceptor ().get_local_addr (bound);
    port = bound.get_port_number ();
    reactor_thread = std::thread ([this] {
      reactor.owner (ACE_Thread::self ());
      reactor.run_reactor_event_loop ();
    });
  }

  void TearDown () override
  {
    received.open_gate ();
    stall.release ();
    for (int fd : clients)
      ::close (fd);
    // Every handler ends within about a second of its socket closing.
    EXPECT_EQ (Vurude_Base_Handler::wait_for_none (ACE_Time_Value (10)), 0);
    reactor.end_reactor_event_loop ();
    reactor_thread.join ();
    acceptor.close ();
    ACE_Reactor::instance (previous_reactor);
  }

  int connect_client ()
  {
    const int fd = ::socket (AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons (port);
    address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
    EXPECT_EQ (::connect (fd, reinterpret_cast<sockaddr *> (&address), sizeof address), 0);
    const int one = 1;
    ::setsockopt (fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    clients.push_back (fd);
    return fd;
  }

  static std::string read_exactly (int fd, std::size_t count)
  {
    std::string bytes (count, '\0');
    std::size_t got = 0;
    while (got < count)
      {
        pollfd p {fd, POLLIN, 0};
        if (::poll (&p, 1, 10000) <= 0)
          break;
        const ssize_t n = ::recv (fd, bytes.data () + got, count - got, 0);
        if (n <= 0)
          break;
        got += static_cast<std::size_t> (n);
      }
    bytes.resize (got);
    return bytes;
  }

  // Whether the server ends the connection, without sending a byte, within
  // ten seconds.
  static bool closed_by_server (int fd)
  {
    pollfd p {fd, POLLIN, 0};
    char byte;
    return ::poll (&p, 1, 10000) == 1 && ::recv (fd, &byte, 1, 0) == 0;
  }

  // Connects and takes the greeting; returns the socket.
  int greeted_client ()
  {
    const int fd = connect_client ();
    EXPECT_EQ (read_exactly (fd, 130).size (), 130u);
    return fd;
  }

  // Sends a short piece as one write and waits until the reactor has read
  // it, so the next piece arrives in a read of its own.
  void send_piece (int fd, const std::string &bytes)
  {
    long reads;
    {
      std::lock_guard<std::mutex> guard (received.lock);
      reads = received.reads;
    }
    ASSERT_EQ (::send (fd, bytes.data (), bytes.size (), MSG_NOSIGNAL), static_cast<ssize_t> (bytes.size ()));
    received.wait_for_reads (reads + 1);
  }

  Reactor_Stall stall;
  Vurude_Reactor event_loop;
  ACE_Reactor &reactor = event_loop.reactor ();
  Vurude_Acceptor<Recording_Handler> acceptor;
  ACE_Reactor *previous_reactor = nullptr;
  std::thread reactor_thread;
  std::vector<int> clients;
  u_short port = 0;
};

TEST_F (Framing, GreetingIsTheHandlePaddedTo129AndALineFeed)
{
  const int fd = connect_client ();
  const std::string greeting = read_exactly (fd, 130);
  ASSERT_EQ (greeting.size (), 130u);
  EXPECT_EQ (greeting.back (), '\n');
  const std::string handle = greeting.substr (0, greeting.find (' '));
  EXPECT_EQ (handle.size (), 20u);
  EXPECT_EQ (handle.substr (0, 4).find_first_not_of ("0123456789"), std::string::npos);
  EXPECT_EQ (handle.find_first_not_of ("0123456789ABCDEF", 4), std::string::npos);
  EXPECT_EQ (greeting.find_first_not_of (' ', 20), 129u);
  EXPECT_TRUE (VURUDE_HANDLER_REGISTRY::instance ()->find (std::u16string (handle.begin (), handle.end ())));
}

struct Framing_Case
{
  const char *name;
  std::vector<std::string> pieces;  // each sent as a read of its own
  std::vector<std::string> requests;
  int oks;                          // "OK\n" answers expected
};

class Framing_Cases : public Framing, public testing::WithParamInterface<Framing_Case> {};

TEST_P (Framing_Cases, AssemblesRequestsAtReadsEndingInALineFeed)
{
  const int fd = greeted_client ();
  for (const auto &piece : GetParam ().pieces)
    send_piece (fd, piece);
  for (const auto &expected : GetParam ().requests)
    EXPECT_EQ (received.next (), expected);
  std::string oks;
  for (int i = 0; i < GetParam ().oks; ++i)
    oks += "OK\n";
  EXPECT_EQ (read_exactly (fd, oks.size ()), oks);
}

INSTANTIATE_TEST_SUITE_P (
  Cases, Framing_Cases,
  testing::Values (
    Framing_Case {"OneWrite", {"abc\n"}, {"abc"}, 0},
    Framing_Case {"SplitWrites", {"ab", "c\n"}, {"abc"}, 0},
    Framing_Case {"Continuation", {"first\\\n", "second\n"}, {"firstsecond"}, 1},
    Framing_Case {"LoneLineFeedAfterBackslash", {"abc\\", "\n"}, {"abc\\"}, 0},
    Framing_Case {"TwoRequestsInOneRead", {"a\nb\n"}, {"a\nb"}, 0},
    Framing_Case {"CarriageReturnStays", {"x\r\n"}, {"x\r"}, 0},
    Framing_Case {"EmptyRequest", {"\n"}, {""}, 0}),
  [] (const testing::TestParamInfo<Framing_Case> &c) { return c.param.name; });

TEST_F (Framing, NonZeroResultEndsTheConnection)
{
  const int fd = greeted_client ();
  send_piece (fd, "quit\n");
  EXPECT_EQ (received.next (), "quit");
  EXPECT_EQ (read_exactly (fd, 1), "") << "the server closes the connection";
}

// A worker that ends takes its socket out of the reactor from its own
// thread. The reactor may have found the handler for an event on that
// socket a moment before, without referencing it yet: the handler has to
// stay until the reactor thread has moved on (freeing it crashed the
// server under churn).
TEST_F (Framing, EndingWorkerKeepsItsHandlerUntilTheReactorHasMovedOn)
{
  const int fd = greeted_client ();
  {
    std::lock_guard<std::mutex> guard (received.lock);
    received.gate_open = false;
  }
  send_piece (fd, "quit\n");
  ASSERT_EQ (received.next (), "quit");
  stall.hold (reactor);
  received.open_gate ();
  EXPECT_EQ (Vurude_Base_Handler::wait_for_none (ACE_Time_Value (0, 300000)), 1)
    << "freed while the reactor thread may still hold it";
  stall.release ();
  EXPECT_EQ (Vurude_Base_Handler::wait_for_none (ACE_Time_Value (10)), 0);
  EXPECT_TRUE (closed_by_server (fd));
}

TEST_F (Framing, IdleCloseEndsTheWorkerAndFreesTheHandle)
{
  const int fd = connect_client ();
  const std::string greeting = read_exactly (fd, 130);
  const std::string handle = greeting.substr (0, 20);
  ::close (fd);
  clients.clear ();
  EXPECT_EQ (Vurude_Base_Handler::wait_for_none (ACE_Time_Value (5)), 0);
  EXPECT_FALSE (VURUDE_HANDLER_REGISTRY::instance ()->find (std::u16string (handle.begin (), handle.end ())));
}

TEST_F (Framing, DataConnectionOutlivesItsSocketUntilItsOwnerEnds)
{
  const int owner_fd = connect_client ();
  const std::string owner_handle = read_exactly (owner_fd, 130).substr (0, 20);
  const int data_fd = connect_client ();
  const std::string data_handle = read_exactly (data_fd, 130).substr (0, 20);
  auto &registry = *VURUDE_HANDLER_REGISTRY::instance ();
  Vurude_Handler_Ref owner = registry.find (std::u16string (owner_handle.begin (), owner_handle.end ()));
  Vurude_Handler_Ref data = registry.find (std::u16string (data_handle.begin (), data_handle.end ()));
  ASSERT_TRUE (owner && data);
  // What a request does when it names a data connection.
  data->cancel_on_close = 0;
  data->owner = owner.get ();
  owner->partner = data;
  owner.reset ();
  data.reset ();

  ::close (data_fd);
  clients.erase (std::find (clients.begin (), clients.end (), data_fd));
  // Long enough for a cancelled worker to have noticed: the data side stays.
  EXPECT_EQ (Vurude_Base_Handler::wait_for_none (ACE_Time_Value (2)), 2);

  ::close (owner_fd);
  clients.clear ();
  EXPECT_EQ (Vurude_Base_Handler::wait_for_none (ACE_Time_Value (10)), 0)
    << "the owner's end hangs up its data connection";
}

TEST_F (Framing, ABusyWorkerWithAFullQueueDoesNotStallOtherConnections)
{
  const int busy = greeted_client ();
  {
    std::lock_guard<std::mutex> guard (received.lock);
    received.gate_open = false;
  }
  send_piece (busy, "hold\n");
  EXPECT_EQ (received.next (), "hold");
  // A megabyte without a line feed: far more than the worker's queue holds.
  const std::string flood (1 << 20, 'f');
  std::thread flooder ([&] { ::send (busy, flood.data (), flood.size (), MSG_NOSIGNAL); });

  const int other = greeted_client ();
  // Handled while the first worker is still blocked: the reactor kept going.
  send_piece (other, "hello\n");
  EXPECT_EQ (received.next (), "hello");

  received.open_gate ();
  flooder.join ();
  ASSERT_EQ (::send (busy, "\n", 1, MSG_NOSIGNAL), 1);
  EXPECT_EQ (received.next (), flood) << "nothing of the parked bytes is lost";
}

// Sockets beyond the first 1024 descriptors are served like any other: a
// select-based loop cannot watch them, and their clients got a greeting and
// then nothing.
TEST_F (Framing, ConnectionOnADescriptorAbove1024IsServed)
{
  std::vector<int> fillers;
  while (fillers.empty () || fillers.back () < 1100)
    {
      const int filler = ::open ("/dev/null", O_RDONLY);
      ASSERT_GE (filler, 0) << "descriptor limit too low for this test";
      fillers.push_back (filler);
    }
  const int fd = greeted_client ();
  send_piece (fd, "high\n");
  EXPECT_EQ (received.next (), "high");
  for (int filler : fillers)
    ::close (filler);
}

// With no descriptor left, a waiting client is closed at once instead of
// waiting for ever, and the server serves again once descriptors are free.
TEST_F (Framing, ClientBeyondTheDescriptorLimitIsClosedAndLaterOnesServed)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizers' own checks need descriptors (a pipe to probe memory):
  // in a process without any they report faults that are not there.
  GTEST_SKIP () << "exhausts the descriptors the sanitizer runtime needs";
#endif
  const int served = greeted_client ();
  std::vector<int> fillers;
  for (int fd = ::open ("/dev/null", O_RDONLY); fd >= 0; fd = ::open ("/dev/null", O_RDONLY))
    fillers.push_back (fd);
  // The client's own socket needs a descriptor too.
  ::close (fillers.back ());
  fillers.pop_back ();
  const int refused = connect_client ();
  EXPECT_TRUE (closed_by_server (refused)) << "closed at once, without a greeting";
  for (int filler : fillers)
    ::close (filler);

  const int later = greeted_client ();
  send_piece (later, "later\n");
  EXPECT_EQ (received.next (), "later");
  send_piece (served, "still\n");
  EXPECT_EQ (received.next (), "still");
}

// The reactor also removes a socket after an error event, with every mask
// and the socket's handle: that is the socket's end, not the worker's, and
// must not let go of the worker's reference (a double free once the worker
// ended too).
TEST_F (Framing, SocketRemovedAfterAnErrorEventEndsTheWorkerOnce)
{
  const int fd = connect_client ();
  const std::string handle = read_exactly (fd, 130).substr (0, 20);
  {
    std::lock_guard<std::mutex> guard (received.lock);
    received.gate_open = false;
  }
  send_piece (fd, "hold\n");
  ASSERT_EQ (received.next (), "hold") << "the worker is busy in its request";
  Vurude_Handler_Ref handler
    = VURUDE_HANDLER_REGISTRY::instance ()->find (std::u16string (handle.begin (), handle.end ()));
  ASSERT_TRUE (handler);
  const int before = Vurude_Base_Handler::live_count ();
  ASSERT_EQ (reactor.remove_handler (handler.get (), ACE_Event_Handler::ALL_EVENTS_MASK), 0);
  handler.reset ();
  EXPECT_EQ (Vurude_Base_Handler::live_count (), before) << "deleted under its busy worker";
  received.open_gate ();
  EXPECT_EQ (Vurude_Base_Handler::wait_for_none (ACE_Time_Value (10)), 0) << "the worker ends";
}
}
