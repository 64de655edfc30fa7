// Creates a table with the installed engine, appends two records, and
// prints what an expression makes of each: "<n> <value>".
#include <cstring>
#include <iostream>
#include <string>

#include "expressions/expressions.h"
#include "foundation/errors.h"
#include "library/units.h"
#include "table/record_updates.h"
#include "table/work_areas.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  qd::library::StartUnits();
  qd::ImmediateDispatch = false;
  const std::string table = argv[1];
  if (!qd::CreateDBF(table, {{"NAME", 'C', 10, 0}, {"QTY", 'N', 5, 0}})) return 3;
  qd::Use(table + " EXCLUSIVE", nullptr, 0);
  if (qd::ErrorCode != 0) return 3;
  const char* names[] = {"alpha", "beta"};
  for (int i = 0; i < 2; ++i) {
    qd::ClearRecord();
    std::uint8_t* name = qd::FieldAddress(1);
    name[0] = static_cast<std::uint8_t>(std::strlen(names[i]));
    std::memcpy(name + 1, names[i], name[0]);
    const std::int32_t qty = 10 * (i + 1);
    std::memcpy(qd::FieldAddress(2), &qty, sizeof qty);
    qd::Append();
  }
  qd::ExprRecord* expr = qd::AssignExpr("UPPER(TRIM(NAME)) + STR(QTY * 2, 4)");
  if (expr == nullptr) return 3;
  for (qd::GoTop(); !qd::dEOF(); qd::Skip(1))
    std::cout << qd::RecNo() << " " << static_cast<const char*>(qd::EvalExpr(expr)) << "\n";
  qd::FreeExpr(expr);
  qd::Close();
  qd::library::StopUnits();
  return qd::ErrorCode;
}
