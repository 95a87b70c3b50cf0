#include "sapsim/read/table_scope.h"

namespace sapsim {

namespace {

std::string names_of(const std::vector<ScopeTable>& tables, size_t first, size_t end)
{
    std::string names;
    for (size_t i = first; i < end; ++i)
        names += (names.empty() ? "" : ", ") + tables[i].alias;
    return names;
}

const FieldDef* field_of(const TableDef& table, const std::string& name)
{
    for (const FieldDef& f : table.fields)
        if (f.name == name)
            return &f;
    return nullptr;
}

} // namespace

const ScopeTable* TableScope::find_table(const std::string& qualifier, size_t visible, std::string& error,
                                         const size_t* from) const
{
    std::vector<const ScopeTable*> found;
    for (size_t i = 0; i < visible; ++i)
        if (tables_[i].alias == qualifier)
            found.push_back(&tables_[i]);
    // An aliased table answers to its own name too, as long as that is unique.
    if (found.empty())
        for (size_t i = 0; i < visible; ++i)
            if (tables_[i].has_alias && tables_[i].def.name == qualifier)
                found.push_back(&tables_[i]);
    if (found.empty()) {
        error = "unknown table or alias " + qualifier + " (known here: " + names_of(tables_, 0, visible) + ")";
        return nullptr;
    }
    if (found.size() == 1)
        return found.front();
    if (from != nullptr) {
        for (const ScopeTable* t : found)
            if (static_cast<size_t>(t - tables_.data()) >= *from)
                return t;
        return found.back();
    }
    error = qualifier + " names more than one table: give each an alias";
    return nullptr;
}

bool TableScope::resolve(const std::string& qualifier, const std::string& name, ScopeView view, FieldRef& out,
                         std::string& error) const
{
    if (!qualifier.empty()) {
        const ScopeTable* table = find_table(qualifier, view.visible, error);
        if (table == nullptr)
            return false;
        const FieldDef* field = field_of(table->def, name);
        if (field == nullptr) {
            error = "unknown field " + qualifier + "~" + name + " (table " + table->def.name + ")";
            return false;
        }
        out = FieldRef{table, field};
        return true;
    }
    out = FieldRef{};
    for (size_t i = view.own_first; i < view.visible; ++i) {
        const FieldDef* field = field_of(tables_[i].def, name);
        if (field == nullptr)
            continue;
        if (out.table != nullptr) {
            error = "field " + name + " is in " + out.table->alias + " and " + tables_[i].alias + ": write alias~" + name;
            return false;
        }
        out = FieldRef{&tables_[i], field};
    }
    if (out.table == nullptr) {
        error = "unknown field " + name + " (tables " + names_of(tables_, view.own_first, view.visible) + ")";
        return false;
    }
    return true;
}

std::string TableScope::column_sql(const ScopeTable& table, const FieldDef& field)
{
    return table.sql_name + ".\"" + field.name + "\"";
}

std::string TableScope::initial_sql(const FieldDef& field)
{
    switch (field.type) {
    case 'N': case 'D': case 'T': return "'" + std::string(static_cast<size_t>(field.length), '0') + "'";
    case 'P': return "'0'";
    case 'X': return "zeroblob(" + std::to_string(field.length) + ")";
    case 'I': case 's': case 'b': return "0";
    case 'F': return "0.0";
    default: return "''";
    }
}

std::string TableScope::value_sql(const FieldRef& ref)
{
    const std::string column = column_sql(*ref.table, *ref.field);
    // Key fields of keyed tables are never null in the store.
    if (ref.field->key)
        return column;
    const std::string value = "IFNULL(" + column + ", " + initial_sql(*ref.field) + ")";
    if (!ref.table->outer)
        return value;
    // A left-joined row without a match is all null; its key tells it apart.
    const FieldDef& first = ref.table->def.fields.front();
    const std::string marker = first.key ? column_sql(*ref.table, first) : ref.table->sql_name + ".rowid";
    return "CASE WHEN " + marker + " IS NULL THEN NULL ELSE " + value + " END";
}

std::string TableScope::compare_sql(const FieldRef& ref)
{
    const std::string value = value_sql(ref);
    return ref.field->type == 'P' ? "CAST(" + value + " AS REAL)" : value;
}

} // namespace sapsim
