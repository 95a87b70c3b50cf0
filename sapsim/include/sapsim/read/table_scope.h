// The tables of a translated select statement and how their fields read in
// SQL. Each table gets an SQL alias of its own (t1, t2, ...), so aliases the
// client wrote never reach SQL; field and table names in SQL come only from
// the dictionary, whose names are plain (letters, digits, '_').
//
// Values: a table's rows hold no nulls in the sense of the system, so a null
// stored for a non-key field (a CSV cell left empty) reads as the initial
// value of its type; only the fields of a left-joined table without a
// matching row are null.
#pragma once

#include "sapsim/dictionary.h"
#include "sapsim/read/select_request.h"

#include <string>
#include <vector>

namespace sapsim {

struct ScopeTable {
    TableDef def;
    std::string alias;       // upper case; the table name when none was given
    bool has_alias = false;
    std::string sql_name;    // t1, t2, ...
    bool outer = false;      // left-joined: its fields are null without a match
    size_t part = 0;         // statement of an nselect
};

struct FieldRef {
    const ScopeTable* table = nullptr;
    const FieldDef* field = nullptr;
};

// Which tables a name may refer to: qualified names see the tables
// [0, visible), unqualified ones [own_first, visible).
struct ScopeView {
    size_t visible = 0;
    size_t own_first = 0;
};

class TableScope {
public:
    // Tables are added before the first lookup; references stay valid after.
    void add(ScopeTable table) { tables_.push_back(std::move(table)); }
    const std::vector<ScopeTable>& tables() const { return tables_; }
    ScopeView all() const { return ScopeView{tables_.size(), 0}; }

    // The table an alias (or, when it names only one table, a table name)
    // stands for. With `from` set, a name several tables carry means the first
    // of them at or after `from` (then the last before it), as the statements
    // of an nselect follow each other; otherwise such a name is ambiguous.
    const ScopeTable* find_table(const std::string& qualifier, size_t visible, std::string& error,
                                 const size_t* from = nullptr) const;
    // A field named qualifier~name or name within the view.
    bool resolve(const std::string& qualifier, const std::string& name, ScopeView view, FieldRef& out,
                 std::string& error) const;

    // The field's value: stored nulls read as the initial value.
    static std::string value_sql(const FieldRef& ref);
    // The value for comparing and sorting: packed numbers as numbers.
    static std::string compare_sql(const FieldRef& ref);
    // `t1."NAME"`
    static std::string column_sql(const ScopeTable& table, const FieldDef& field);
    // The initial value of a field's type as an SQL constant.
    static std::string initial_sql(const FieldDef& field);

private:
    std::vector<ScopeTable> tables_;
};

} // namespace sapsim
