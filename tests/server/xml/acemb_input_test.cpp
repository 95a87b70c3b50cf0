// Reading a request in place from its message blocks: the stream's reads,
// and documents whose blocks split the text anywhere.
#include "xmldoc_test_support.h"

#include "acemb_input_source.h"
#include "acemb_input_stream.h"
#include "utf16_text.h"

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace
{
std::string read_once (xercesc::BinInputStream &stream, std::size_t maximum)
{
  std::string bytes (maximum, '\0');
  const XMLSize_t n = stream.readBytes (reinterpret_cast<XMLByte *> (bytes.data ()), maximum);
  bytes.resize (n);
  return bytes;
}

TEST (ACEMB_Input_Stream, ReadsPrefixThenEachBlockWithoutMixingOrSpanning)
{
  initialise_xml ();
  Chain chain ("abcdefg", {3, 3, 5});  // "abc", "", "de", "fg"
  ACEMBInputSource source (chain.head (), "<p>");
  std::unique_ptr<xercesc::BinInputStream> stream (source.makeStream ());
  ASSERT_TRUE (stream);
  EXPECT_EQ (read_once (*stream, 2), "<p");
  EXPECT_EQ (read_once (*stream, 100), ">") << "the prefix's rest alone";
  EXPECT_EQ (read_once (*stream, 100), "abc") << "one block at most";
  EXPECT_EQ (read_once (*stream, 1), "d") << "the empty block is skipped";
  EXPECT_EQ (read_once (*stream, 100), "e");
  EXPECT_EQ (read_once (*stream, 100), "fg");
  EXPECT_EQ (read_once (*stream, 100), "");
  EXPECT_EQ (stream->curPos (), 0u);
  // The chain is consumed; a second stream of the same source finds it read.
  for (const ACE_Message_Block *block = chain.head (); block; block = block->cont ())
    EXPECT_EQ (block->length (), 0u);
  std::unique_ptr<xercesc::BinInputStream> again (source.makeStream ());
  EXPECT_EQ (read_once (*again, 100), "<p>") << "each stream has its own copy of the prefix";
  EXPECT_EQ (read_once (*again, 100), "");
}

TEST (ACEMB_Input_Stream, WithoutPrefixOrBlocksEndsAtOnce)
{
  initialise_xml ();
  ACEMBInputStream empty (nullptr, nullptr);
  EXPECT_EQ (read_once (empty, 10), "");
  Chain chain ("", {0, 0});
  ACEMBInputStream blank (chain.head (), "");
  EXPECT_EQ (read_once (blank, 10), "");
}

// Every cut of a text gives what the whole text gives.
struct Split_Case
{
  const char *name;
  const char *text;
};

class Split_Document : public testing::TestWithParam<Split_Case> {};

std::vector<std::vector<std::size_t>> cuttings (std::size_t length)
{
  std::vector<std::vector<std::size_t>> all;
  for (std::size_t k = 0; k <= length; ++k)
    all.push_back ({k});
  std::vector<std::size_t> every, every_with_empty;
  for (std::size_t k = 1; k < length; ++k)
    {
      every.push_back (k);
      every_with_empty.push_back (k);
      every_with_empty.push_back (k);
    }
  all.push_back (every);
  all.push_back (every_with_empty);
  for (std::size_t step = 2; step < 8; ++step)
    {
      std::vector<std::size_t> cuts;
      for (std::size_t k = step; k < length; k += step)
        cuts.push_back (k);
      all.push_back (cuts);
    }
  return all;
}

std::u16string user_of (const Parse_Outcome &outcome)
{
  if (!outcome.parser)
    return u"(none)";
  return outcome.parser->getDocument ()->getDocumentElement ()->getAttribute (u"user");
}

TEST_P (Split_Document, ParsesAsTheWholeText)
{
  const std::string text = GetParam ().text;
  const Parse_Outcome whole = parse_request (text);
  for (const std::vector<std::size_t> &cuts : cuttings (text.size ()))
    {
      const Parse_Outcome split = parse_request (text, cuts);
      const std::string where = "cut before " + testing::PrintToString (cuts);
      EXPECT_EQ (split.result, whole.result) << where;
      EXPECT_EQ (split.replies, whole.replies) << where;
      EXPECT_EQ (split.root, whole.root) << where;
      EXPECT_EQ (user_of (split), user_of (whole)) << where;
    }
}

INSTANTIATE_TEST_SUITE_P (
  Texts, Split_Document,
  testing::Values (
    // Two-, three- and four-byte characters, so cuts fall inside them.
    Split_Case {"multibyte_values", "<connect user=\"K\xC3\xA4se \xE2\x82\xAC \xF0\x9D\x84\x9E\" lang=\"DE\"/>"},
    Split_Case {"function", "<function name=\"F\"><parameter name=\"P\" intlen=\"4\" paramclass=\"I\"/></function>"},
    Split_Case {"invalid", "<function name=\"\xC3\xA4\"><callback/><exception/></function>"},
    Split_Case {"unknown_root", "<conn\xC3\xA4" "ct/>"},
    Split_Case {"not_well_formed", "<connect user=\"\xC3\xA4"}),
  [] (const auto &instance) { return std::string (instance.param.name); });

TEST (Split_Document, MultibyteValueArrivesWhole)
{
  const Parse_Outcome outcome =
    parse_request ("<connect user=\"K\xC3\xA4se \xE2\x82\xAC \xF0\x9D\x84\x9E\"/>", {17, 25, 28});
  ASSERT_EQ (outcome.result, 0);
  EXPECT_EQ (user_of (outcome), u"K\u00e4se \u20ac \U0001D11E");
}
}
