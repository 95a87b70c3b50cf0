#ifndef VURUDE_TEST_ARGV_BUILDER_H
#define VURUDE_TEST_ARGV_BUILDER_H

#include <string>
#include <vector>

// A writable argument vector (argument parsers permute it in place).
class Argv_Builder
{
public:
  Argv_Builder (std::vector<std::string> words) : words_ (std::move (words))
  {
    for (auto &w : words_)
      pointers_.push_back (w.data ());
    pointers_.push_back (nullptr);
  }
  int argc () const { return static_cast<int> (words_.size ()); }
  char **argv () { return pointers_.data (); }

private:
  std::vector<std::string> words_;
  std::vector<char *> pointers_;
};

#endif
