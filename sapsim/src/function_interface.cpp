#include "sapsim/function_interface.h"

#include "sapsim/text.h"

#include <algorithm>

namespace sapsim {

namespace {

// Descriptions are the last item of a line and may hold anything but a comma.
std::string description_text(std::string text)
{
    std::replace(text.begin(), text.end(), ',', ' ');
    return text;
}

std::string line(const std::string& head, const std::string& description)
{
    std::u16string text = to_utf16(head + description_text(description));
    if (text.size() > max_interface_line_chars) {
        text.resize(max_interface_line_chars);
        // A cut must not leave half a surrogate pair behind.
        if (text.back() >= 0xD800 && text.back() <= 0xDBFF)
            text.pop_back();
    }
    return to_utf8(text);
}

std::string type_items(const AbapType& type)
{
    return std::string(1, type.type) + "," + std::to_string(type.bytes) + "," + std::to_string(type.decimals);
}

} // namespace

const FieldDescription* TableDescription::field(std::string_view field_name) const
{
    for (const FieldDescription& f : fields)
        if (f.name == field_name)
            return &f;
    return nullptr;
}

int FunctionInterface::parameter_index(std::string_view parameter_name) const
{
    for (size_t i = 0; i < parameters.size(); ++i)
        if (parameters[i].name == parameter_name)
            return static_cast<int>(i);
    return -1;
}

int FunctionInterface::table_index(std::string_view table_name) const
{
    for (size_t i = 0; i < tables.size(); ++i)
        if (tables[i].name == table_name)
            return static_cast<int>(i);
    return -1;
}

std::vector<std::string> FunctionInterface::lines() const
{
    std::vector<std::string> out;
    out.push_back(line("FUNCTION," + name + ",", description));
    for (const ParameterDescription& p : parameters)
        out.push_back(line("PARAMETER," + p.name + "," + (p.direction == Direction::in ? "E" : "I") + "," +
                               type_items(p.type) + "," + (p.optional ? "X" : "") + ",",
                           p.description));
    for (const TableDescription& t : tables) {
        out.push_back(line("TABLE," + t.name + "," + std::to_string(t.line_bytes) + "," + t.structure + "," +
                               (t.input_only ? "Y" : "N") + ",",
                           t.description));
        const std::vector<std::string> fields = field_lines(t);
        out.insert(out.end(), fields.begin(), fields.end());
    }
    for (const ExceptionDescription& e : exceptions)
        out.push_back(line("EXCEPTION," + e.name + ",", e.description));
    return out;
}

std::vector<std::string> field_lines(const TableDescription& table)
{
    std::vector<std::string> out;
    for (const FieldDescription& f : table.fields)
        out.push_back(line("FIELD," + table.name + "," + f.name + "," + type_items(f.type) + "," +
                               std::to_string(f.offset) + ",",
                           f.description));
    return out;
}

ParameterDescription in_parameter(std::string name, AbapType type, std::string description)
{
    return ParameterDescription{std::move(name), Direction::in, type, false, {}, std::move(description)};
}

ParameterDescription optional_in(std::string name, AbapType type, std::string description, std::string default_value)
{
    if (!default_value.empty())
        description += " (default " + default_value + ")";
    return ParameterDescription{std::move(name), Direction::in, type, true, std::move(default_value),
                                std::move(description)};
}

ParameterDescription out_parameter(std::string name, AbapType type, std::string description)
{
    return ParameterDescription{std::move(name), Direction::out, type, false, {}, std::move(description)};
}

TableDescription structured_table(std::string name, std::string structure, bool input_only, std::string description,
                                  std::initializer_list<StructureField> fields)
{
    TableDescription table{std::move(name), 0, std::move(structure), input_only, std::move(description), {}};
    for (const StructureField& f : fields) {
        table.fields.push_back(FieldDescription{f.name, f.type, table.line_bytes, f.description});
        table.line_bytes += f.type.bytes;
    }
    return table;
}

} // namespace sapsim
