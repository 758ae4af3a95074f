// The abstract factory of databases of one kind (the MySQL engine derives
// from it). Databases it returns are owned by the caller. The property bag
// is not owned.
#pragma once

#include <memory>
#include <string>

class udb_database;
class udb_properties;

class udb_engine {
public:
    udb_engine();
    virtual ~udb_engine();
    udb_engine(const udb_engine&) = delete;
    udb_engine& operator=(const udb_engine&) = delete;

    // Creates a database and returns it open.
    virtual std::unique_ptr<udb_database> create_db(const std::wstring& name) = 0;
    // Opens a database with the engine's mode bits; `text` is engine-specific.
    virtual std::unique_ptr<udb_database> open_db(const std::wstring& name, int mode, const std::wstring& text) = 0;
    // Base: removes the file of that name; tk_exception_ex (level 1, errno
    // text) when that fails.
    virtual void db_delete(const std::wstring& name);
    // Base: a regular file of that name exists.
    virtual bool is_db_exist(const std::wstring& name);
    virtual void set_properties(udb_properties* bag);

    udb_properties* get_properties() const { return properties_; }

protected:
    udb_properties* properties_ = nullptr;
};
