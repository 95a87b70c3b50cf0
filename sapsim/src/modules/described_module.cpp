#include "sapsim/described_module.h"

#include "sapsim/logger.h"
#include "sapsim/module_support.h"
#include "sapsim/text.h"
#include "sapsim/vok_callback.h"

#include "rfclib/rfc_gateway.h"

#include <cassert>

namespace sapsim {

namespace {

// The line structure of a table as the library's elements (2-byte layout).
RFC_TYPEHANDLE install_structure(const TableDescription& table)
{
    if (table.structure.empty() || table.fields.empty())
        return RFCTYPE_BYTE;
    std::vector<std::u16string> names;
    names.reserve(table.fields.size());
    std::vector<RFC_UNICODE_TYPE_ELEMENT> elements;
    for (const FieldDescription& f : table.fields) {
        names.push_back(to_utf16(f.name));
        RFC_UNICODE_TYPE_ELEMENT e{};
        e.name = names.back().c_str();
        e.type = rfc_type_code(f.type.type);
        e.decimals = static_cast<unsigned>(f.type.decimals);
        e.c2_length = static_cast<unsigned>(f.type.bytes);
        e.c2_offset = static_cast<unsigned>(f.offset);
        elements.push_back(e);
    }
    const std::u16string structure = to_utf16(table.structure);
    RFC_TYPEHANDLE type = RFCTYPE_BYTE;
    if (RfcInstallUnicodeStructure(structure.c_str(), elements.data(), static_cast<unsigned>(elements.size()), 0, 0,
                                   &type) != RFC_OK) {
        // The lines still travel, as raw bytes.
        SAPSIM_LOG(error, 0) << "structure " << table.structure << " not installed: " << CallContext::last_error();
        return RFCTYPE_BYTE;
    }
    return type;
}

} // namespace

FunctionFrame::FunctionFrame(const DescribedModule& module) : module_(module)
{
    const FunctionInterface& interface = module.interface();
    for (const ParameterDescription& p : interface.parameters) {
        parameter_names_.push_back(to_utf16(p.name));
        std::vector<unsigned char> value(p.type.bytes);
        put_initial(p.type, value.data());
        // Descriptions carry defaults that fit their types; the initial value stays otherwise.
        if (p.direction == Direction::in && !p.default_value.empty())
            put_value(p.type, p.default_value, value.data());
        values_.push_back(std::move(value));
    }
    for (const TableDescription& t : interface.tables) {
        table_names_.push_back(to_utf16(t.name));
        tables_.push_back(ItCreate(table_names_.back().c_str(), static_cast<unsigned>(t.line_bytes), 0, 0));
    }
}

FunctionFrame::~FunctionFrame()
{
    for (ITAB_H t : tables_)
        if (t != nullptr)
            ItDelete(t);
}

bool FunctionFrame::ready() const
{
    for (ITAB_H t : tables_)
        if (t == nullptr)
            return false;
    return true;
}

size_t FunctionFrame::parameter_slot(std::string_view name) const
{
    const int index = module_.interface().parameter_index(name);
    assert(index >= 0 && "a module names only parameters of its own interface");
    return static_cast<size_t>(index);
}

const ParameterDescription& FunctionFrame::parameter(std::string_view name) const
{
    return module_.interface().parameters[parameter_slot(name)];
}

unsigned char* FunctionFrame::value(std::string_view name)
{
    return values_[parameter_slot(name)].data();
}

const unsigned char* FunctionFrame::value(std::string_view name) const
{
    return values_[parameter_slot(name)].data();
}

std::string FunctionFrame::text(std::string_view name) const
{
    return get_text(parameter(name).type, value(name));
}

std::int64_t FunctionFrame::integer(std::string_view name) const
{
    return get_integer(parameter(name).type, value(name));
}

void FunctionFrame::set_text(std::string_view name, std::string_view text)
{
    put_utf16le(text, value(name), parameter(name).type.chars());
}

void FunctionFrame::set_integer(std::string_view name, std::int64_t number)
{
    put_integer(parameter(name).type, number, value(name));
}

ITAB_H FunctionFrame::table(std::string_view name) const
{
    const int index = module_.interface().table_index(name);
    assert(index >= 0 && "a module names only tables of its own interface");
    return tables_[static_cast<size_t>(index)];
}

std::vector<RFC_PARAMETER> FunctionFrame::rfc_parameters(Direction direction)
{
    std::vector<RFC_PARAMETER> out;
    const std::vector<ParameterDescription>& parameters = module_.interface().parameters;
    for (size_t i = 0; i < parameters.size(); ++i)
        if (parameters[i].direction == direction)
            out.push_back(RFC_PARAMETER{parameter_names_[i].c_str(), 0, rfc_type_code(parameters[i].type.type),
                                        static_cast<unsigned>(values_[i].size()), values_[i].data()});
    out.push_back(end_of_parameters);
    return out;
}

std::vector<RFC_TABLE> FunctionFrame::rfc_tables()
{
    std::vector<RFC_TABLE> out;
    const std::vector<TableDescription>& tables = module_.interface().tables;
    for (size_t i = 0; i < tables.size(); ++i)
        out.push_back(RFC_TABLE{table_names_[i].c_str(), 0, module_.table_type(i),
                                static_cast<unsigned>(tables[i].line_bytes), tables_[i], RFC_ITMODE_BYREFERENCE, 0});
    out.push_back(end_of_tables);
    return out;
}

DescribedModule::DescribedModule(FunctionInterface interface) : interface_(std::move(interface))
{
    for (const TableDescription& t : interface_.tables)
        table_types_.push_back(install_structure(t));
}

void DescribedModule::serve(CallContext& context) const
{
    FunctionFrame frame(*this);
    ModuleRun current{context, frame, {}, {}};
    if (!frame.ready()) {
        out_of_memory(current);
        return;
    }
    // Lines shorter or longer than the description's are padded field by
    // field or cut by the library, so the module always sees its own layout.
    std::vector<RFC_PARAMETER> importing = frame.rfc_parameters(Direction::in);
    std::vector<RFC_TABLE> tables = frame.rfc_tables();
    if (!get_call_data(context, name(), importing.data(), tables.data()))
        return;
    switch (run(current)) {
    case ModuleOutcome::answer: {
        std::vector<RFC_PARAMETER> exporting = frame.rfc_parameters(Direction::out);
        std::vector<RFC_TABLE> answer = frame.rfc_tables();
        send_answer(context, name(), exporting.data(), answer.data());
        break;
    }
    case ModuleOutcome::raise: raise_exception(context, name(), current.raised.c_str()); break;
    case ModuleOutcome::ended: break;
    }
}

ModuleOutcome DescribedModule::out_of_memory(const ModuleRun& run) const
{
    SAPSIM_LOG(info, run.context.session().connection_id) << name() << ": system failure TSV_TNEW_PAGE_ALLOC_FAILED";
    RfcGwSystemFailure(run.context.handle(), u"TSV_TNEW_PAGE_ALLOC_FAILED",
                       u"No more storage space available for extending an internal table");
    return ModuleOutcome::ended;
}

ModuleOutcome DescribedModule::database_failure(const ModuleRun& run, const std::string& message) const
{
    SAPSIM_LOG(info, run.context.session().connection_id) << name() << ": system failure DBIF_RSQL_SQL_ERROR: " << message;
    RfcGwSystemFailure(run.context.handle(), u"DBIF_RSQL_SQL_ERROR", to_utf16(message).c_str());
    return ModuleOutcome::ended;
}

ModuleOutcome DescribedModule::raise(ModuleRun& run, std::u16string exception) const
{
    run.raised = std::move(exception);
    return ModuleOutcome::raise;
}

} // namespace sapsim
