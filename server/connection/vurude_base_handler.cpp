#include "vurude_base_handler.h"

#include "nt_vurude_service_options.h"
#include "utf16_text.h"
#include "vurude_base_request.h"
#include "vurude_dispatch_barrier.h"
#include "vurude_gwinfo_cbf.h"
#include "vurude_handle_token.h"
#include "vurude_mq.h"
#include "vurude_request_assembler.h"

#include <ace/Log_Msg.h>
#include <ace/OS_NS_stdio.h>
#include <ace/OS_NS_sys_time.h>
#include <ace/Reactor.h>
#include <ace/Thread_Manager.h>

#include <xercesc/util/TransService.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace
{
// Handlers alive in the process, so an ending server can wait for them.
std::mutex live_lock;
std::condition_variable live_changed;
int live_handlers = 0;

ACE_Time_Value now_plus (int seconds)
{
  return ACE_OS::gettimeofday () + ACE_Time_Value (seconds);
}

// An absolute time already past: queue operations return at once.
ACE_Time_Value no_wait ()
{
  return ACE_OS::gettimeofday ();
}

// How long an ending worker waits for the reactor thread to pass; only a
// stalled or ended event loop takes that long.
const ACE_Time_Value dispatch_wait (10);
}

Vurude_Base_Handler::Vurude_Base_Handler (ACE_Thread_Manager *thr_mgr, ACE_Reactor *r)
  : Base (thr_mgr, nullptr, r),
    cancel_on_close (1),
    linked_handler (nullptr),
    owner (nullptr),
    sema (0),
    rfc_handle (RFC_HANDLE_NULL),
    batch_active (0),
    batch_request (nullptr),
    request (nullptr),
    batch_error (0),
    batch_error_info (),
    table_width (0),
    thread_id_ (),
    group_id_ (-1),
    reactor_registered_ (0),
    cancel_requested_ (false),
    references_ (1),
    pending_block_ (nullptr),
    reading_suspended_ (false)
{
  handle_name_.reserve (130);
  reference_counting_policy ().value (ACE_Event_Handler::Reference_Counting_Policy::ENABLED);
}

Vurude_Request_Ref Vurude_Base_Handler::current_request ()
{
  ACE_GUARD_RETURN (ACE_Thread_Mutex, guard, request_lock_, Vurude_Request_Ref ());
  return Vurude_Request_Ref (request);
}

void Vurude_Base_Handler::set_request (Vurude_Base_Request *next)
{
  Vurude_Base_Request *previous = nullptr;
  {
    ACE_GUARD (ACE_Thread_Mutex, guard, request_lock_);
    previous = request;
    request = next;
  }
  if (previous)
    previous->remove_reference ();
}

Vurude_Base_Handler::~Vurude_Base_Handler ()
{
  ACE_DEBUG ((LM_TRACE, "%D(%P|%t) Entering Vurude_Base_Handler destructor\n"));
  if (rfc_handle != RFC_HANDLE_NULL)
    RfcClose (rfc_handle);
  VURUDE_HANDLER_REGISTRY::instance ()->unbind (handle_name_, this);
  set_request (nullptr);
  if (partner)
    {
      // A data connection whose owner goes away ends too.
      partner->cancel_on_close = 1;
      partner->cancel_worker ();
      partner->hangup ();
      partner->owner = nullptr;
      partner.reset ();
    }
  if (pending_block_)
    pending_block_->release ();
  ACE_DEBUG ((LM_TRACE, "%D(%P|%t) Leaving Vurude_Base_Handler destructor\n"));
}

Vurude_Live_Handler::Vurude_Live_Handler ()
{
  std::lock_guard<std::mutex> guard (live_lock);
  ++live_handlers;
}

Vurude_Live_Handler::~Vurude_Live_Handler ()
{
  std::lock_guard<std::mutex> guard (live_lock);
  --live_handlers;
  live_changed.notify_all ();
}

ACE_Event_Handler::Reference_Count Vurude_Base_Handler::add_reference ()
{
  return references_.fetch_add (1, std::memory_order_relaxed) + 1;
}

ACE_Event_Handler::Reference_Count Vurude_Base_Handler::remove_reference ()
{
  const Reference_Count left = references_.fetch_sub (1, std::memory_order_acq_rel) - 1;
  if (left == 0)
    delete this;
  return left;
}

int Vurude_Base_Handler::live_count ()
{
  std::lock_guard<std::mutex> guard (live_lock);
  return live_handlers;
}

int Vurude_Base_Handler::close_all (const ACE_Time_Value &timeout)
{
  Vurude_Dispatch_Barrier::loop_ended ();
  for (const Vurude_Handler_Ref &handler : VURUDE_HANDLER_REGISTRY::instance ()->all ())
    {
      handler->cancel_on_close = 1;
      handler->cancel_worker ();
      handler->hangup ();
    }
  return wait_for_none (timeout);
}

int Vurude_Base_Handler::wait_for_none (const ACE_Time_Value &timeout)
{
  std::unique_lock<std::mutex> guard (live_lock);
  live_changed.wait_for (guard, std::chrono::milliseconds (timeout.msec ()),
                         [] { return live_handlers == 0; });
  return live_handlers;
}

std::u16string Vurude_Base_Handler::make_handle_name (unsigned short serial, std::uint64_t token,
                                                      std::string *serial_text)
{
  char serial_digits[8];
  ACE_OS::snprintf (serial_digits, sizeof serial_digits, "%04hu", serial);
  const std::size_t length = std::char_traits<char>::length (serial_digits);
  char name[32];
  ACE_OS::snprintf (name, sizeof name, "%s%016llX", serial_digits + length - 4,
                    static_cast<unsigned long long> (token));
  if (serial_text)
    *serial_text = serial_digits;
  return utf16_from_utf8 (name);
}

bool Vurude_Base_Handler::register_handle ()
{
  // A candidate clashes only when a live handler holds the same serial
  // and token; the next try draws both anew.
  for (;;)
    {
      std::uint64_t token = 0;
      if (!draw_handle_token (token))
        ACE_ERROR_RETURN ((LM_ERROR, "%D(%P|%t) %p\n", "No random value for a client handle"), false);
      std::string serial_text;
      handle_name_ = make_handle_name (++*VURUDE_SERIAL::instance (), token, &serial_text);
      ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Assigned VOK Handle \"%s\" from serial number %s\n",
                  utf8_from_utf16 (handle_name_).c_str (), serial_text.c_str ()));
      const int bound = VURUDE_HANDLER_REGISTRY::instance ()->bind (handle_name_, this);
      if (bound != 1)
        return true;
    }
}

int Vurude_Base_Handler::open (void *)
{
  // A connection that cannot be named or watched is refused, never left
  // open for a worker that would wait for bytes it is never given.
  if (!register_handle ())
    return -1;
  if (reactor ()->register_handler (this, ACE_Event_Handler::READ_MASK) != 0)
    ACE_ERROR_RETURN ((LM_ERROR, "%D(%P|%t) %p\n", "Cannot watch the client's socket"), -1);
  reactor_registered_ = 1;

  std::size_t stack_size[1] = {worker_stack_size};
  ACE_thread_t ids[1] = {};
  group_id_ = activate (THR_NEW_LWP | THR_DETACHED, 1, 0, ACE_DEFAULT_THREAD_PRIORITY,
                        worker_group, nullptr, nullptr, nullptr, stack_size, ids);
  if (group_id_ == -1)
    {
      // On the reactor thread, which may take the socket out at once.
      reactor_registered_ = 0;
      reactor ()->remove_handler (this, ACE_Event_Handler::READ_MASK | ACE_Event_Handler::DONT_CALL);
      ACE_ERROR_RETURN ((LM_ERROR, "%D(%P|%t) %p", "Error activating thread"), -1);
    }
  thread_id_ = ids[0];
  send_handle ();
  return 0;
}

int Vurude_Base_Handler::handle_input (ACE_HANDLE)
{
  ACE_Message_Block *block = new (std::nothrow) ACE_Message_Block (read_size);
  if (!block)
    return -1;
  const ACE_Time_Value timeout (1);
  const ssize_t n = peer ().recv (block->wr_ptr (), read_size, &timeout);
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) %d bytes from VOK\n", static_cast<int> (n)));
  if (n > 0)
    block->wr_ptr (static_cast<std::size_t> (n));
  else if (n == 0)
    ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) %s\n", "EOF from VOK"));
  else
    ACE_ERROR ((LM_ERROR, "%D(%P|%t) %p\n", "Error reading from VOK"));
  // Cancelled before the end is queued, so the worker ends on taking it
  // rather than a wait later.
  if (n <= 0 && cancel_on_close)
    cancel_worker ();

  // The reactor serves every connection: never wait here for this one's
  // worker. A full queue parks the block and leaves the socket disarmed
  // until the worker has made room.
  const int result = n > 0 ? 0 : -1;
  {
    ACE_GUARD_RETURN (ACE_Thread_Mutex, guard, flow_lock_, -1);
    if (pending_block_)
      {
        block->release ();
        return result;
      }
    ACE_Time_Value immediately = no_wait ();
    if (putq (block, &immediately) == -1)
      {
        if (errno != EWOULDBLOCK)
          {
            block->release ();
            return -1;  // the worker is gone: nobody will read the queue again
          }
        pending_block_ = block;
        reading_suspended_ = n > 0;
        return result;
      }
  }
  if (n > 0)
    reactor ()->resume_handler (this);
  return result;
}

int Vurude_Base_Handler::resume_handler ()
{
  return ACE_Event_Handler::ACE_APPLICATION_RESUMES_HANDLER;
}

void Vurude_Base_Handler::resume_reading ()
{
  bool resume = false;
  {
    ACE_GUARD (ACE_Thread_Mutex, guard, flow_lock_);
    if (!pending_block_)
      return;
    ACE_Time_Value immediately = no_wait ();
    if (putq (pending_block_, &immediately) == -1)
      return;
    pending_block_ = nullptr;
    resume = reading_suspended_;
    reading_suspended_ = false;
  }
  // Outside the lock: the reactor thread may be waiting for it while it
  // holds the reactor's token.
  if (resume)
    reactor ()->resume_handler (this);
}

void Vurude_Base_Handler::cancel_worker ()
{
  cancel_requested_ = true;
}

bool Vurude_Base_Handler::cancelled ()
{
  return cancel_requested_;
}

int Vurude_Base_Handler::svc ()
{
  const std::string name = utf8_from_utf16 (handle_name_);
  ACE_DEBUG ((LM_TRACE, "%D(%P|%t) Entering Vurude_Base_Handler svc (%s)\n", name.c_str ()));
  Vurude_Request_Assembler assembler (max_request_bytes);
  int result = 0;
  while (result == 0)
    {
      ACE_Message_Block *block = nullptr;
      ACE_Time_Value deadline = now_plus (1);
      if (getq (block, &deadline) == -1)
        {
          if (errno != EWOULDBLOCK)
            {
              ACE_DEBUG ((LM_TRACE, "%D(%P|%t) Timeout -1\n"));
              result = -1;
            }
          else if (cancelled ())
            {
              ACE_DEBUG ((LM_TRACE, "%D(%P|%t) Timeout 1\n"));
              result = 1;
            }
          else
            ACE_DEBUG ((LM_TRACE, "%D(%P|%t) Timeout 0\n"));
          continue;
        }
      resume_reading ();

      switch (block->msg_type ())
        {
        case MB_DATA:
          if (block->length () == 0 && cancelled ())
            {
              block->release ();
              result = 1;  // the client has gone
            }
          else
            result = assemble (assembler, block);
          break;
        case MB_START:
          {
            ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) In Vurude_Base_Handler svc - got MB_START\n"));
            const bool empty = block->length () == 0;
            block->release ();
            result = empty ? handle_batch () : handle_callrfc_batch ();
            break;
          }
        case MB_HANGUP:
          ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) In Vurude_Base_Handler svc - got MB_HANGUP\n"));
          block->release ();
          result = -2;
          break;
        default:
          ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) In Vurude_Base_Handler svc - got unknown MB type\n"));
          block->release ();
          result = -1;
          break;
        }
    }
  return result;
}

int Vurude_Base_Handler::assemble (Vurude_Request_Assembler &assembler, ACE_Message_Block *block)
{
  switch (assembler.add (block))
    {
    case Vurude_Request_Assembler::more:
      return 0;
    case Vurude_Request_Assembler::continued:
      send_text (u"OK\n", 3);
      return 0;
    case Vurude_Request_Assembler::too_large:
      ACE_ERROR ((LM_ERROR, "%D(%P|%t) Request larger than %d bytes - connection closed\n",
                  static_cast<int> (max_request_bytes)));
      send_error ("Request too large", 0);
      return -1;
    case Vurude_Request_Assembler::complete:
      break;
    }
  ACE_Message_Block *chain = assembler.take ();
  const int result = handle_mb (chain);
  chain->release ();
  return result;
}

int Vurude_Base_Handler::handle_close (ACE_HANDLE handle, ACE_Reactor_Mask mask)
{
  // The reactor names the socket it removes, with READ_MASK after a read
  // and with all masks after an error event; the worker's end names none.
  // Taking an error event for the worker's end would let go of the
  // worker's reference while the worker still runs.
  if (handle != ACE_INVALID_HANDLE)
    {
      // The reactor is removing the socket itself (and its reference).
      reactor_registered_ = 0;
      ACE_DEBUG ((LM_TRACE, "%D(%P|%t) Entering Vurude_Base_Handler handle_close for %s\n",
                  mask == ACE_Event_Handler::READ_MASK ? "READ_MASK" : "an error event"));
      if (cancel_on_close)
        cancel_worker ();
      return 0;
    }
  if (reactor_registered_.exchange (0))
    {
      reactor ()->remove_handler (this, ACE_Event_Handler::READ_MASK | ACE_Event_Handler::DONT_CALL);
      // The reactor thread may have found this handler for an event just
      // before the removal and not yet referenced it: letting go now could
      // free the handler under that dispatch.
      if (!Vurude_Dispatch_Barrier::wait (reactor (), dispatch_wait))
        ACE_ERROR ((LM_ERROR, "%D(%P|%t) Reactor did not answer within %d s\n",
                    static_cast<int> (dispatch_wait.sec ())));
    }
  ACE_DEBUG ((LM_TRACE, "%D(%P|%t) Entering Vurude_Base_Handler handle_close for MASK_ALL\n"));
  if (cancel_on_close)
    ACE_DEBUG ((LM_TRACE, "%D(%P|%t) About to delete self\n"));
  // Nobody may find the handler any more; references taken before keep it
  // alive until they are let go.
  VURUDE_HANDLER_REGISTRY::instance ()->unbind (handle_name_, this);
  remove_reference ();
  return 0;
}

void Vurude_Base_Handler::set_owner (Vurude_Base_Handler *handler)
{
  owner = handler;
}

void Vurude_Base_Handler::set_linked_handler (Vurude_Base_Handler *handler)
{
  linked_handler = handler;
}

int Vurude_Base_Handler::send_handle ()
{
  std::u16string greeting = handle_name_;
  greeting.resize (greeting_width, u' ');
  greeting += u'\n';
  return send_text (greeting.data (), greeting.size ()) < 0 ? -1 : 0;
}

int Vurude_Base_Handler::handle_mb (ACE_Message_Block *)
{
  return 0;
}

int Vurude_Base_Handler::handle_batch ()
{
  return 0;
}

int Vurude_Base_Handler::handle_callrfc_batch ()
{
  batch_active = 1;
  // The owner waits for this side, so it is alive now; the reference keeps
  // it so until its semaphore has been released.
  Vurude_Handler_Ref requester (owner);
  Vurude_Request_Ref job_request = requester ? requester->current_request () : Vurude_Request_Ref ();
  Vurude_Gwinfo_Cbf *gwinfo = job_request ? job_request->get_gwinfo_cbf () : nullptr;
  if (!gwinfo)
    {
      batch_error = 2;
      batch_message = u"Internal batch queue failure";
      release_sema ("Vurude_Base_Handler handle_callrfc_batch", "dh", sema);
      return 0;
    }
  batch_request = job_request.get ();
  serve_batch (*job_request.get (), gwinfo->batprid (), gwinfo->batgwh (), gwinfo->batgws (), gwinfo->batgwfl (),
               "Vurude_Base_Handler handle_callrfc_batch");
  release_sema ("Vurude_Base_Handler handle_callrfc_batch", "rh", requester->sema);
  return 0;
}

bool Vurude_Base_Handler::serve_batch (Vurude_Base_Request &job_request, const char16_t *program_id,
                                       const char16_t *gateway_host, const char16_t *gateway_service,
                                       char16_t flag, const char *where)
{
  batch_error = 0;
  const RFC_HANDLE registered
    = job_request.rfcaccept_function (program_id, gateway_host, gateway_service, flag, batch_message, RFC_HANDLE_NULL);
  if (registered == RFC_HANDLE_NULL)
    {
      batch_error = 1 + RfcLastErrorEx (&batch_error_info);
      release_sema (where, "dh", sema);
      return false;
    }
  release_sema (where, "dh", sema);
  for (;;)
    {
      const RFC_RC waited = RfcWaitForRequest (registered, 1);
      if (waited != RFC_OK && cancelled ())
        break;
      if (waited == RFC_RETRY)
        continue;
      if (waited != RFC_OK)
        break;
      job_request.dispatch_callback (registered);
      if (job_request.get_data_state () == u'X')
        break;
    }
  std::u16string closing;
  job_request.rfcaccept_function (program_id, gateway_host, gateway_service, flag, closing, registered);
  return true;
}

void Vurude_Base_Handler::release_sema (const char *where, const char *which, ACE_Thread_Semaphore &semaphore)
{
  ACE_DEBUG ((LM_NOTICE, "%D(%P|%t) In %s - releasing %s sema\n", where, which));
  semaphore.release ();
  ACE_DEBUG ((LM_NOTICE, "%D(%P|%t) In %s - released %s sema\n", where, which));
}

int Vurude_Base_Handler::hangup ()
{
  ACE_Message_Block *block = new (std::nothrow) ACE_Message_Block (0, MB_HANGUP);
  if (!block)
    return -1;
  const int result = putq (block);
  if (result == -1)
    block->release ();
  return result;
}

ssize_t Vurude_Base_Handler::send_locked (const void *bytes, std::size_t count)
{
  ACE_GUARD_RETURN (ACE_Thread_Mutex, guard, send_lock_, -1);
  std::size_t transferred = 0;
  // A client that has gone must fail this write, not raise SIGPIPE and end
  // the process.
  const ssize_t sent = peer ().send_n (bytes, count, MSG_NOSIGNAL, nullptr, &transferred);
  return sent < 0 ? -1 : static_cast<ssize_t> (transferred);
}

ssize_t Vurude_Base_Handler::send_text (const char16_t *text, std::size_t length)
{
  xercesc::XMLTranscoder *transcoder = OPTIONS::instance ()->utf8_transcoder ();
  if (!transcoder)
    return -1;
  XMLByte buffer[text_buffer_bytes];
  XMLSize_t eaten = 0;
  const XMLSize_t bytes = transcoder->transcodeTo (reinterpret_cast<const XMLCh *> (text), length,
                                                   buffer, sizeof buffer, eaten,
                                                   xercesc::XMLTranscoder::UnRep_RepChar);
  return send_locked (buffer, bytes);
}

ssize_t Vurude_Base_Handler::send_bytes (const void *bytes, std::size_t count)
{
  return send_locked (bytes, count);
}

ssize_t Vurude_Base_Handler::send_record (int n)
{
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) In Vurude_Base_Request::send_table. EOF/Error detected\n"));
  std::vector<char> record (static_cast<std::size_t> (n < 0 ? -static_cast<long> (n) : n) + 1, '\0');
  record.back () = n > 0 ? 'X' : static_cast<char> (0xFF);
  send_locked (record.data (), record.size ());
  return 0;
}

int Vurude_Base_Handler::send_table (ITAB_H table, int n)
{
  if (!table)
    return static_cast<int> (send_record (n));
  const unsigned width = ItLeng (table);
  if (table_width == 0)
    table_width = static_cast<int> (width);
  const unsigned rows = ItFill (table);
  if (rows == 0)
    return 0;
  std::vector<char> image;
  try
    {
      image.resize (static_cast<std::size_t> (rows) * (width + 1));
    }
  catch (const std::bad_alloc &)
    {
      return -1;
    }
  char *out = image.data ();
  for (unsigned line = 1; line <= rows; ++line)
    {
      std::memcpy (out, ItGetLine (table, line), width);
      out[width] = n ? 1 : 0;
      out += width + 1;
    }
  const ssize_t sent = send_locked (image.data (), image.size ());
  ItFree (table);
  if (sent > 0)
    OPTIONS::instance ()->status ().update (static_cast<std::int32_t> (sent));
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) %d bytes to VOK (maybe %d)\n", static_cast<int> (sent),
              static_cast<int> (sent)));
  return sent < 0 ? static_cast<int> (sent) : 0;
}

ssize_t Vurude_Base_Handler::send_format (const char *format, ...)
{
  va_list arguments;
  va_start (arguments, format);
  char stack_buffer[format_units * 4];
  const int needed = std::vsnprintf (stack_buffer, sizeof stack_buffer, format, arguments);
  va_end (arguments);
  if (needed < 0)
    return -1;
  std::u16string text = utf16_from_utf8 (
    std::string_view (stack_buffer, std::min<std::size_t> (needed, sizeof stack_buffer - 1)));
  // What does not fit the line buffer is cut to one unit less than fits.
  if (text.size () > format_units - 1)
    text.resize (format_units - 2);
  return send_text (text.data (), text.size ());
}

ssize_t Vurude_Base_Handler::send_error (std::u16string_view message, int width)
{
  if (width != 0 && partner)
    partner->send_record (width);
  // "E," and "\n" stay; a long message is cut so the line fits its buffer.
  const std::size_t room = format_units - 1 - 3;
  std::u16string line = u"E,";
  line += message.substr (0, room);
  line += u'\n';
  return send_text (line.data (), line.size ());
}

ssize_t Vurude_Base_Handler::send_error (const char *message, int width)
{
  if (width != 0 && partner)
    partner->send_record (width);
  const std::size_t room = format_units - 1 - 3;
  std::string line = "E,";
  line += std::string_view (message).substr (0, room);
  line += '\n';
  return send_bytes (line.data (), line.size ());
}

std::u16string Vurude_Base_Handler::make_mq_name (const char16_t *a, const char16_t *b,
                                                  const char16_t *c, const char16_t *d)
{
  if (!a || !b || !c)
    return std::u16string ();
  std::u16string name;
  if (d)
    {
      name = d;
      name += u',';
    }
  name += a;
  name += b;
  name += c;
  return name;
}

int Vurude_Base_Handler::post_mq (const std::u16string &name, const std::u16string *text,
                                  Vurude_MQ *&queue)
{
  const int bound = VURUDE_MQ_REGISTRY::instance ()->bind (name, queue);
  if (bound == -1 || !text)
    return bound;
  // The message refers to the poster's text; it is not copied.
  ACE_Message_Block *block = new (std::nothrow)
    ACE_Message_Block (reinterpret_cast<const char *> (text->data ()), text->size () * sizeof (char16_t));
  if (!block)
    return -1;
  block->wr_ptr (text->size () * sizeof (char16_t));
  const int result = queue->enqueue_tail (block);
  if (result == -1)
    block->release ();
  return result;
}

std::u16string Vurude_Base_Handler::read_mq (const std::u16string &name)
{
  Vurude_MQ *queue = VURUDE_MQ_REGISTRY::instance ()->find (name);
  if (!queue)
    return std::u16string ();
  ACE_Message_Block *block = nullptr;
  if (queue->dequeue_head (block) == -1)
    return std::u16string ();
  std::u16string text (reinterpret_cast<const char16_t *> (block->rd_ptr ()),
                       block->length () / sizeof (char16_t));
  block->release ();
  return text;
}

Vurude_MQ *Vurude_Base_Handler::find_mq (const std::u16string &name, ACE_Thread_Mutex *&lock)
{
  Vurude_MQ *queue = VURUDE_MQ_REGISTRY::instance ()->find (name);
  lock = queue ? &queue->lock : nullptr;
  return queue;
}
