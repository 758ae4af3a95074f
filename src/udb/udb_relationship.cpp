#include "udb/udb_relationship.h"

#include "tk/tk_logger.h"

udb_relationship::udb_relationship() = default;

udb_relationship::udb_relationship(const std::wstring& name, const std::wstring& fk_table, const std::wstring& pk_table,
                                   const std::wstring& table3, const std::vector<std::wstring>& fk_flds,
                                   const std::vector<std::wstring>& pk_flds, const std::wstring& rule)
    : name(name),
      fk_table(fk_table),
      pk_table(pk_table),
      table3(table3),
      rule(rule),
      fk_flds(fk_flds),
      pk_flds(pk_flds) {}

udb_relationship::udb_relationship(const udb_relationship& that)
    : name(that.name),
      fk_table(that.fk_table),
      pk_table(that.pk_table),
      table3(that.table3),
      rule(that.rule),
      fk_flds(that.fk_flds),
      pk_flds(that.pk_flds) {
    tk_log(2, "udb_relationship::copy ctor");
    tk_log(2, "that.fk_flds.size=%d, fk_flds.size=%d", static_cast<int>(that.fk_flds.size()),
           static_cast<int>(fk_flds.size()));
    tk_log(2, "that.pk_flds.size=%d, pk_flds.size=%d", static_cast<int>(that.pk_flds.size()),
           static_cast<int>(pk_flds.size()));
}
