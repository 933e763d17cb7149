// A host of the installed engine: it creates a database file, opens it, and
// catches an engine error raised inside the library; then it makes a
// database through the database component, fills a table through the query
// component and browses the rows of a SELECT.
#include <zel15rd5.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: host <database file>\n");
    return 2;
  }
  const std::string file = argv[1];
  {
    zel::TDiskMgr creator;
    creator.SetFileName(file);
    creator.SetPageSize(4096);
    creator.CreateNewFile();
  }
  zel::TDiskMgr disk;
  disk.SetFileName(file);
  disk.SetPageSize(4096);
  disk.Open();
  const long long size = static_cast<long long>(disk.GetFileSize());
  disk.Close();
  bool caught = false;
  try {
    zel::ZelDatabaseError(0x2809, "THost.Main", "Table CUSTOMERS");
  } catch (const zel::EZelDatabaseError& e) {
    std::printf("file of %lld bytes; error 0x%04X caught\n", size,
                static_cast<unsigned>(e.ErrorCode()));
    caught = true;
  }
  if (!caught) return 1;

  zel::TZelDataBase db;
  db.SetDataBaseName(file + ".sql.zel");
  db.CreateDatabase();
  zel::TZelQuery query;
  query.SetDataBase(&db);
  query.SQL().SetText("CREATE TABLE items (id INTEGER, label VARCHAR(20), PRIMARY KEY (id));"
                      "INSERT INTO items VALUES (:id, :label)");
  query.ParamByName("id")->SetAsInteger(1);
  query.ParamByName("label")->SetAsString("first");
  query.ExecSQL();
  query.SQL().SetText("SELECT id, label FROM items WHERE id > :low");
  query.ParamByName("low")->SetAsInteger(0);
  query.Open();
  std::string rows;
  for (query.First(); !query.Eof(); query.Next())
    rows += std::to_string(query.FieldByName("id")->AsInteger()) + ":" +
            query.FieldByName("label")->AsString() + ";";
  query.Close();
  std::printf("rows %s\n", rows.c_str());
  return 0;
}
