// Plain SQL over a database file, read-only, for checking what the program
// wrote independently of its own reader. Header only: the test programs that
// use it link SQLite through the formats library.
#pragma once
#include <sqlite3.h>

#include <string>
#include <vector>

class SqlQuery {
  public:
    explicit SqlQuery(const std::string& path) {
        sqlite3_open_v2(path.c_str(), &Db, SQLITE_OPEN_READONLY, nullptr);
    }
    ~SqlQuery() { sqlite3_close(Db); }
    SqlQuery(const SqlQuery&) = delete;
    SqlQuery& operator=(const SqlQuery&) = delete;

    // Rows of the first column as bytes ("" for NULL); {"error"} when the
    // query fails.
    std::vector<std::string> Column(const std::string& sql) {
        std::vector<std::string> out;
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(Db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) return {"error"};
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            const void* p = sqlite3_column_blob(s, 0);
            out.emplace_back(p ? static_cast<const char*>(p) : "",
                             static_cast<size_t>(sqlite3_column_bytes(s, 0)));
        }
        sqlite3_finalize(s);
        if (rc != SQLITE_DONE) return {"error"};
        return out;
    }
    // The one value of a query; "rows: N" otherwise.
    std::string One(const std::string& sql) {
        const auto rows = Column(sql);
        return rows.size() == 1 ? rows[0] : "rows: " + std::to_string(rows.size());
    }
    std::string Meta(const std::string& name) {
        return One("SELECT value FROM metadata WHERE name = '" + name + "'");
    }

  private:
    sqlite3* Db = nullptr;
};
