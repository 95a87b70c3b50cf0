#ifndef VURUDE_BASE_HANDLER_H
#define VURUDE_BASE_HANDLER_H

#include "vurude_base_request.h"
#include "vurude_handle_registry.h"

#include <rfclib/rfclib.h>

#include <ace/INET_Addr.h>
#include <ace/SOCK_Stream.h>
#include <ace/Svc_Handler.h>
#include <ace/Synch_Traits.h>
#include <ace/Recursive_Thread_Mutex.h>
#include <ace/Thread_Mutex.h>
#include <ace/Thread_Semaphore.h>

#include <atomic>
#include <cstdint>
#include <cstdarg>
#include <string>
#include <string_view>

class Vurude_MQ;
class Vurude_Request_Assembler;

// Message block types on a handler's queue.
enum
{
  MB_DATA = 0x01,     // client bytes
  MB_START = 0x88,    // start the data side of a batch extraction
  MB_HANGUP = 0x89    // end the worker thread
};

// Counts the handlers alive in the process. A base of the handler, listed
// first, so the count drops only once the whole handler is gone, its socket
// and reactor registration included.
class Vurude_Live_Handler
{
protected:
  Vurude_Live_Handler ();
  ~Vurude_Live_Handler ();
};

// One client connection: greets the client with its handle, reads the
// socket on the reactor thread, assembles requests on a worker thread of its
// own and hands them to the protocol subclass, and offers the replies all
// request code uses. Reference counted: the worker holds one reference, the
// reactor one while the socket is registered, and every finder one; the
// handler deletes itself when the last goes.
class Vurude_Base_Handler : private Vurude_Live_Handler,
                            public ACE_Svc_Handler<ACE_SOCK_Stream, ACE_MT_SYNCH>
{
public:
  typedef ACE_Svc_Handler<ACE_SOCK_Stream, ACE_MT_SYNCH> Base;

  // Worker stack size and the thread group of all connection workers.
  static constexpr std::size_t worker_stack_size = 372736;
  static constexpr int worker_group = 9;
  // Bytes taken from the socket per reactor event.
  static constexpr std::size_t read_size = 256;
  // Greeting: the handle padded with blanks to this many characters, then "\n".
  static constexpr std::size_t greeting_width = 129;
  static constexpr std::size_t text_buffer_bytes = 16384;
  static constexpr std::size_t format_units = 1024;
  // A request may not grow beyond this; the connection is ended instead.
  static constexpr std::size_t max_request_bytes = 64 * 1024 * 1024;

  Vurude_Base_Handler (ACE_Thread_Manager *thr_mgr = nullptr,
                       ACE_Reactor *reactor = ACE_Reactor::instance ());
  ~Vurude_Base_Handler () override;

  // ACE_Svc_Handler hooks
  // Reactor thread: names and registers the handler, starts its worker and
  // greets the client. Returns -1 when the worker cannot start.
  int open (void *acceptor = nullptr) override;
  // Reactor thread: one read of at most 256 bytes. Returns -1 to close.
  int handle_input (ACE_HANDLE handle) override;
  // With the socket's handle: the reactor removed the socket (closed or
  // failed). Without one (ACE_INVALID_HANDLE, whatever the mask): the
  // worker ended, or the handler never started; it lets go of itself.
  int handle_close (ACE_HANDLE handle, ACE_Reactor_Mask mask) override;
  // Worker thread: the request loop.
  int svc () override;

  // ACE_Event_Handler hooks
  // The handler re-arms its socket itself, once its queue has room.
  int resume_handler () override;

  // ACE_Event_Handler reference counting, kept here rather than in the
  // library so every thread's view of the count is visible to the tools
  // that check this code. The last reference deletes the handler.
  Reference_Count add_reference () override;
  Reference_Count remove_reference () override;

  // Connection coupling and protocol hooks
  virtual void set_owner (Vurude_Base_Handler *handler);
  virtual void set_linked_handler (Vurude_Base_Handler *handler);
  virtual int send_handle ();
  // Worker thread: one complete request; non-zero ends the connection.
  virtual int handle_mb (ACE_Message_Block *request);
  virtual int handle_batch ();
  virtual int handle_callrfc_batch ();
  // Any thread: ends the worker after the blocks queued before.
  virtual int hangup ();

  // Replies, any thread; writes to one socket never interleave.
  // UTF-16 text sent as UTF-8 (at most 16384 bytes per call).
  virtual ssize_t send_text (const char16_t *text, std::size_t length);
  virtual ssize_t send_bytes (const void *bytes, std::size_t count);
  // The rows of a table, each followed by a flag byte (1 when n is not 0);
  // the rows are freed. Without a table: |n| zero bytes and 'X' (n > 0, an
  // error record) or 0xFF (n < 0, the end record).
  virtual int send_table (ITAB_H table, int n);
  // printf-style, UTF-8 format and arguments; at most 1023 characters sent.
  virtual ssize_t send_format (const char *format, ...);
  // "E,<message>\n", after an error record of `width` on the partner.
  ssize_t send_error (std::u16string_view message, int width);
  ssize_t send_error (const char *message, int width);

  // Named queues
  virtual std::u16string make_mq_name (const char16_t *a, const char16_t *b,
                                       const char16_t *c, const char16_t *d);
  virtual int post_mq (const std::u16string &name, const std::u16string *text, Vurude_MQ *&queue);
  virtual std::u16string read_mq (const std::u16string &name);
  virtual Vurude_MQ *find_mq (const std::u16string &name, ACE_Thread_Mutex *&lock);

  // A client handle: the last four characters of the serial as "%04hu",
  // then the token as 16 upper-case hexadecimal digits.
  static std::u16string make_handle_name (unsigned short serial, std::uint64_t token,
                                          std::string *serial_text = nullptr);

  // Ends every connection and waits up to `timeout` for their workers.
  // Returns the number of handlers still alive.
  static int close_all (const ACE_Time_Value &timeout);
  static int live_count ();
  // Waits up to `timeout` until no handler is alive; returns how many are.
  static int wait_for_none (const ACE_Time_Value &timeout);

  // The current request, referenced: other connections' requests use a
  // logon's connect request through this. Any thread.
  Vurude_Request_Ref current_request ();
  // Worker thread: `next` (whose first reference the handler takes over)
  // becomes the current request; the previous one is deleted once no other
  // request uses it.
  void set_request (Vurude_Base_Request *next);

  const std::u16string &handle_name () const { return handle_name_; }
  ACE_thread_t thread_id () const { return thread_id_; }
  // Any thread: cancels the worker cooperatively; it ends at its next wait.
  // A flag of the handler's own, not the thread manager's cancel state,
  // whose every look-up searches all threads: with thousands of connections
  // the once-a-second checks of all workers took whole cores.
  void cancel_worker ();
  // Worker thread: whether handle_close or an owner cancelled this worker.
  bool cancelled ();

  std::atomic<int> cancel_on_close;
  Vurude_Base_Handler *linked_handler;
  // The data connection coupled to this requesting one. Counted: it lives
  // at least as long as this handler, which hangs it up when it goes.
  Vurude_Handler_Ref partner;
  Vurude_Base_Handler *owner;
  ACE_Thread_Semaphore sema;
  // The RFC connection the function requests of this connection's logon
  // share, and the lock under which they take turns on it.
  RFC_HANDLE rfc_handle;
  ACE_Recursive_Thread_Mutex rfc_lock;
  int batch_active;
  // The request whose background job this data connection served last:
  // a call waits for the end of a job only when the job is its own.
  Vurude_Base_Request *batch_request;
  // Written only through set_request; other threads read it through
  // current_request.
  Vurude_Base_Request *request;
  int batch_error;
  std::u16string batch_message;
  RFC_ERROR_INFO_EX batch_error_info;
  int table_width;

protected:
  // Data connection's worker: registers at the gateway for `job_request`'s
  // background job, releases this handler's semaphore once registered (or
  // failed, with batch_error set), serves the job's calls until the
  // transfer has ended or the worker is cancelled, and closes the
  // registration. `where` names the caller in the log. False when the
  // registration failed.
  bool serve_batch (Vurude_Base_Request &job_request, const char16_t *program_id, const char16_t *gateway_host,
                    const char16_t *gateway_service, char16_t flag, const char *where);
  static void release_sema (const char *where, const char *which, ACE_Thread_Semaphore &semaphore);

  ssize_t send_record (int n);
  // Worker thread: one read's bytes into the request being assembled;
  // a completed request goes to handle_mb. Non-zero ends the worker.
  int assemble (Vurude_Request_Assembler &assembler, ACE_Message_Block *block);
  ssize_t send_locked (const void *bytes, std::size_t count);
  // Draws a handle from the serial counter and a fresh random token and
  // binds it; retries on clashes. False when no handle could be drawn.
  bool register_handle ();
  // Worker thread: puts a block the reactor could not queue, and lets the
  // reactor read this socket again.
  void resume_reading ();

  std::u16string handle_name_;
  ACE_thread_t thread_id_;
  int group_id_;
  std::atomic<int> reactor_registered_;
  std::atomic<bool> cancel_requested_;

private:
  std::atomic<Reference_Count> references_;
  ACE_Thread_Mutex request_lock_;
  ACE_Thread_Mutex send_lock_;
  // A block read while the queue was full, and whether reading is suspended.
  ACE_Thread_Mutex flow_lock_;
  ACE_Message_Block *pending_block_;
  bool reading_suspended_;
};

#endif
