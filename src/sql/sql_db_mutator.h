// The customisations of a conversion: one sql_table_mutator per source
// table (owned, keyed by the source name exactly as the folder spells it)
// and the database-level properties.
//
// The "Type Mappings" block of a profile holds them as indented lines
// (load/store). During a run the converter hands this object to the MySQL
// engine as its customisations: the writers ask for a table by the name it
// is created under, which note_created_table maps back to the source name.
// "engine" and "character set" fall back to the engine's current settings,
// so handing the customisations over never resets the user's choice.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "sql/sql_properties.h"
#include "sql/sql_table_mutator.h"
#include "udb/udb_properties.h"

class udb_profile;

class sql_db_mutator : public udb_properties, public sql_properties {
public:
    static constexpr const wchar_t* section = L"Type Mappings";

    sql_db_mutator();
    ~sql_db_mutator() override;

    // The mutator of `old_name`, created when absent, with its new name set.
    sql_table_mutator& get_table_mutator2(const std::wstring& old_name, const std::wstring& new_name);
    // The mutator of exactly this name, or null.
    sql_table_mutator* get_table_mutator3(const std::wstring& name) const;

    // Replaces the customisations (tables and database properties) with
    // those of the profile's "Type Mappings" block; a missing block leaves
    // none. Property keys compare without case and are kept in the
    // writers' spelling ("engine", "character set"). A block that cannot be
    // read whole (a line that fits no key where it stands, an empty name, a
    // number or status that is not one, an unknown property key, a type
    // the catalogue of column types cannot read) throws
    // tk_exception (level 1) before anything changes.
    void load(const udb_profile& profile);
    // Throws what load would throw for the profile; changes nothing.
    static void check_profile(const udb_profile& profile);
    // Writes the block as list lines of "Type Mappings".
    void store(udb_profile& profile) const;

    // The run: the target table `created` holds source table `source`.
    void note_created_table(const std::wstring& source, const std::wstring& created);
    void clear_created_tables() { created_.clear(); }

    std::optional<std::wstring> get_property(const std::wstring& key) const override;
    const sql_properties* get_child(const std::wstring& table) const override;

    std::map<std::wstring, std::unique_ptr<sql_table_mutator>> tables;

private:
    std::map<std::wstring, std::wstring> created_;  // created name -> source name
};
