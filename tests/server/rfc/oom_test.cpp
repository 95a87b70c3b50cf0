// An exhausted heap while parameters are added and arrays are built. The
// global allocation operators are replaced so that a test can make every
// allocation of its own thread fail for a moment.
#include "vurude_function.h"
#include "vurude_parm.h"

#include <ace/Log_Msg.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

namespace
{
thread_local bool refuse_allocations = false;

void *allocate (std::size_t size)
{
  if (refuse_allocations)
    return nullptr;
  return std::malloc (size ? size : 1);
}

// Refuses this thread's allocations for its life.
struct No_Memory
{
  No_Memory () { refuse_allocations = true; }
  ~No_Memory () { refuse_allocations = false; }
};
}

void *operator new (std::size_t size)
{
  if (void *p = allocate (size))
    return p;
  throw std::bad_alloc ();
}

void *operator new[] (std::size_t size)
{
  return operator new (size);
}

void *operator new (std::size_t size, const std::nothrow_t &) noexcept
{
  return allocate (size);
}

void *operator new[] (std::size_t size, const std::nothrow_t &) noexcept
{
  return allocate (size);
}

void operator delete (void *p) noexcept { std::free (p); }
void operator delete[] (void *p) noexcept { std::free (p); }
void operator delete (void *p, std::size_t) noexcept { std::free (p); }
void operator delete[] (void *p, std::size_t) noexcept { std::free (p); }
void operator delete (void *p, const std::nothrow_t &) noexcept { std::free (p); }
void operator delete[] (void *p, const std::nothrow_t &) noexcept { std::free (p); }

namespace
{
class Out_Of_Memory : public testing::Test
{
protected:
  // The logging object of this thread exists before memory runs out.
  void SetUp () override { ACE_LOG_MSG->clr_flags (ACE_Log_Msg::STDERR); }
  void TearDown () override { ACE_LOG_MSG->set_flags (ACE_Log_Msg::STDERR); }

  char value[4] = "abc";
  Vurude_Parm parm {u"P", value, -1, RFCTYPE_BYTE};
};

TEST_F (Out_Of_Memory, AppendLeavesTheListAsItWas)
{
  Vurude_Function f (u"F");
  int index;
  {
    No_Memory none;
    index = f.add_get_parm (&parm);
  }
  EXPECT_EQ (index, -1);
  EXPECT_TRUE (f.get_parms.empty ());
  EXPECT_EQ (f.add_get_parm (&parm), 0) << "appending works again";
  EXPECT_EQ (f.get_parms.size (), 1u);
}

TEST_F (Out_Of_Memory, AnUnpreparedCallIsRefusedNotSentWithoutItsParameters)
{
  Vurude_Function f (u"F");
  f.add_send_parm (&parm);
  int prepared;
  {
    No_Memory none;
    prepared = f.prepare ();
  }
  EXPECT_EQ (prepared, -1);
  EXPECT_FALSE (f.send_array);
  // Refused before the library sees it: a resource error, not the library's
  // "unknown handle".
  EXPECT_EQ (f.rfccall (RFC_HANDLE_NULL), RFC_FAILURE);
  EXPECT_EQ (f.error_info.group, RFC_ERROR_RESOURCE);
  EXPECT_EQ (std::u16string (f.error_info.key), u"RFC_ERROR_RESOURCE");

  ASSERT_EQ (f.prepare (), 0);
  EXPECT_EQ (f.rfccall (RFC_HANDLE_NULL), RFC_FAILURE);
  EXPECT_EQ (f.error_info.group, RFC_ERROR_PROGRAM);
}
}
