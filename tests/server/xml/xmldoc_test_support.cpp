#include "xmldoc_test_support.h"

#include "utf16_text.h"
#include "vurude_base_handler.h"

#include <xercesc/util/PlatformUtils.hpp>

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <pthread.h>

void Captured_Replies::error_reply (std::u16string_view message)
{
  lines.push_back (utf8_from_utf16 (message));
  narrow.push_back (false);
}

void Captured_Replies::error_reply (std::string_view message)
{
  lines.emplace_back (message);
  narrow.push_back (true);
}

Chain::Chain (std::string_view text, const std::vector<std::size_t> &cuts)
  : head_ (nullptr)
{
  ACE_Message_Block *tail = nullptr;
  std::size_t from = 0;
  std::vector<std::size_t> ends = cuts;
  ends.push_back (text.size ());
  for (const std::size_t end : ends)
    {
      auto *block = new ACE_Message_Block (end - from + 1);
      block->copy (text.data () + from, end - from);
      if (tail)
        tail->cont (block);
      else
        head_ = block;
      tail = block;
      from = end;
    }
}

Chain::~Chain ()
{
  head_->release ();
}

namespace
{
void *run_work (void *work)
{
  (*static_cast<const std::function<void ()> *> (work)) ();
  return nullptr;
}
}

void on_worker_stack (const std::function<void ()> &work)
{
  pthread_attr_t attributes;
  ASSERT_EQ (pthread_attr_init (&attributes), 0);
  ASSERT_EQ (pthread_attr_setstacksize (&attributes, Vurude_Base_Handler::worker_stack_size), 0);
  pthread_t thread;
  ASSERT_EQ (pthread_create (&thread, &attributes, run_work, const_cast<std::function<void ()> *> (&work)), 0);
  pthread_attr_destroy (&attributes);
  ASSERT_EQ (pthread_join (thread, nullptr), 0);
}

Parse_Outcome parse_request (std::string_view text, const std::vector<std::size_t> &cuts)
{
  initialise_xml ();
  Parse_Outcome outcome;
  on_worker_stack ([&] {
    Chain chain (text, cuts);
    Captured_Replies replies;
    Vurude_Xml_Request_Document document (replies);
    outcome.result = document.parse (chain.head ());
    outcome.replies = replies.lines;
    outcome.root = document.root_name ();
    outcome.parser = document.take_parser ();
  });
  return outcome;
}

void initialise_xml ()
{
  static std::once_flag once;
  std::call_once (once, [] { xercesc::XMLPlatformUtils::Initialize (); });
}
