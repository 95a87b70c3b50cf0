// The interface of a function module as its callers see it: parameters,
// tables with the layout of their lines, exceptions. One description per
// module drives both the module's RFC parameter handling (described_module.h)
// and the lines in which the VOK dialog module describes the module for a
// function request (docs/sapsim.md, "Described function modules"):
//   FUNCTION,<name>,<description>
//   PARAMETER,<name>,<class>,<type>,<bytes>,<decimals>,<optional>,<description>
//   TABLE,<name>,<line bytes>,<structure>,<inputonly>,<description>
//   FIELD,<table>,<field>,<type>,<bytes>,<decimals>,<offset>,<description>
//   EXCEPTION,<name>,<description>
#pragma once

#include "sapsim/abap_value.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace sapsim {

// Which way a parameter travels, seen from the module: `in` the caller sends
// it (class E of the interface lines), `out` the caller receives it (class I).
enum class Direction { in, out };

struct ParameterDescription {
    std::string name;
    Direction direction = Direction::in;
    AbapType type;
    bool optional = false;       // an `in` parameter the caller may leave out
    std::string default_value;   // what an `in` parameter holds when not sent (put_value text); empty: initial
    std::string description;
};

struct FieldDescription {
    std::string name;
    AbapType type;
    size_t offset = 0;  // bytes from the start of the line
    std::string description;
};

struct TableDescription {
    std::string name;
    size_t line_bytes = 0;
    std::string structure;  // name of the line structure; empty for lines of raw bytes
    bool input_only = false;  // the module only reads the table
    std::string description;
    std::vector<FieldDescription> fields;

    const FieldDescription* field(std::string_view field_name) const;
};

struct ExceptionDescription {
    std::string name;
    std::string description;
};

struct FunctionInterface {
    std::string name;
    std::string description;
    std::vector<ParameterDescription> parameters;
    std::vector<TableDescription> tables;
    std::vector<ExceptionDescription> exceptions;

    // Index in `parameters` / `tables`, or -1.
    int parameter_index(std::string_view parameter_name) const;
    int table_index(std::string_view table_name) const;

    // The interface lines in their order: FUNCTION, the PARAMETER lines, each
    // TABLE followed by its FIELD lines, the EXCEPTION lines.
    std::vector<std::string> lines() const;
};

// Interface lines stay below 256 characters: the VOK server cuts longer ones.
constexpr size_t max_interface_line_chars = 255;

// The FIELD lines of one table.
std::vector<std::string> field_lines(const TableDescription& table);

// Building descriptions. A default value shows in the description as
// "(default VALUE)", so that it is written down once.
ParameterDescription in_parameter(std::string name, AbapType type, std::string description);
ParameterDescription optional_in(std::string name, AbapType type, std::string description,
                                 std::string default_value = {});
ParameterDescription out_parameter(std::string name, AbapType type, std::string description);

struct StructureField {
    std::string name;
    AbapType type;
    std::string description;
};

// A table of structured lines: the fields follow each other without gaps,
// the line is as long as they are together.
TableDescription structured_table(std::string name, std::string structure, bool input_only, std::string description,
                                  std::initializer_list<StructureField> fields);

} // namespace sapsim
