#include "engine/storage/zelDataPrivileges.h"

#include <gtest/gtest.h>

#include "platform/rtl/Exceptions.h"

namespace zel {
namespace {

TEST(PrivilegeMaps, ObjectAndSystemConstantsRoundTrip) {
  for (int t = opNone; t <= opUpdateData; ++t) {
    const auto type = static_cast<TObjectPrivilegeType>(t);
    EXPECT_EQ(MapObjectPrivConstToType(MapObjectPrivTypeToConst(type)), type) << t;
  }
  for (int t = spNone; t <= spEditGroups; ++t) {
    const auto type = static_cast<TSystemPrivilegeType>(t);
    EXPECT_EQ(MapSystemPrivConstToType(MapSystemPrivTypeToConst(type)), type) << t;
  }
  EXPECT_EQ(MapObjectPrivTypeToConst(opUpdateData), 4096);
  EXPECT_EQ(MapObjectPrivTypeToConst(opExecuteObj), 8);
  EXPECT_EQ(MapSystemPrivTypeToConst(spEditGroups), 16);
  // Bits that name no type, or several, map to none.
  for (int32_t value : {512, 3, -1, 0x7FFFFFFF, 2048 | 4096}) {
    EXPECT_EQ(MapObjectPrivConstToType(value), opNone) << value;
  }
  for (int32_t value : {4, 3, 32}) EXPECT_EQ(MapSystemPrivConstToType(value), spNone) << value;
  EXPECT_STREQ(ObjectPrivilegeNames[opExecuteObj], "Open object");
  EXPECT_STREQ(SystemPrivilegeNames[spViewGroups], "View groups");
}

TEST(InternalObjPrivs, FieldCoverage) {
  TInternalObjPrivs privs;
  TInternalObjPriv* some = privs.Add();
  some->SetObjectID(7);
  some->SetPrivilegeID(MapObjectPrivTypeToConst(opUpdateData));
  some->SetFields(false, "3,7");
  TInternalObjPriv* all = privs.Add();
  all->SetObjectID(7);
  all->SetPrivilegeID(MapObjectPrivTypeToConst(opReadData));
  all->SetFields(true, "");

  struct Case {
    int32_t object, privilege, field;
    bool granted;
  };
  const Case cases[] = {
      {7, 4096, 7, true},  {7, 4096, 3, true},  {7, 4096, 5, false}, {7, 4096, 37, false},
      {7, 2048, 99, true}, {8, 4096, 7, false}, {7, 1024, 7, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(privs.CheckPrivilegeAndFieldID(c.object, c.privilege, c.field), c.granted)
        << c.object << "/" << c.privilege << "/" << c.field;
  }
  EXPECT_TRUE(privs.CheckPrivilegeExists(7, 4096));
  EXPECT_FALSE(privs.CheckPrivilegeExists(7, 8));
  EXPECT_EQ(privs.FindPrivilege(7, 2048), all);

  // The field list is a copy: changing the source later changes nothing.
  plat::TStringList ids;
  ids.Add("5");
  some->SetFieldIDValues(ids);
  ids.Add("9");
  EXPECT_TRUE(privs.CheckPrivilegeAndFieldID(7, 4096, 5));
  EXPECT_FALSE(privs.CheckPrivilegeAndFieldID(7, 4096, 9));
  EXPECT_FALSE(privs.CheckPrivilegeAndFieldID(7, 4096, 3));
}

TEST(InternalPrivileges, MasksCombineOnlyTheirItems) {
  TInternalPrivileges privileges;
  TInternalObjPrivs& objects = privileges.ObjectPrivileges();
  const int32_t items[][2] = {{1, 256}, {1, 2048}, {2, 4096}, {1, 256}};
  for (const auto& item : items) {
    TInternalObjPriv* p = objects.Add();
    p->SetObjectID(item[0]);
    p->SetPrivilegeID(item[1]);
  }
  objects.SetMasks();
  EXPECT_EQ(objects.TablePrivilegeMask(), 256 | 2048);

  TInternalSysPrivs& system = privileges.SystemPrivileges();
  system.Add()->SetPrivilegeID(1);
  system.Add()->SetPrivilegeID(16);
  system.SetMask();
  EXPECT_EQ(system.PrivilegeMask(), 17);
  EXPECT_TRUE(system.CheckPrivilegeExists(16));
  EXPECT_FALSE(system.CheckPrivilegeExists(2));

  privileges.Clear();
  EXPECT_EQ(objects.Count(), 0);
  EXPECT_EQ(system.Count(), 0);
  objects.SetMasks();
  system.SetMask();
  EXPECT_EQ(objects.TablePrivilegeMask(), 0);
  EXPECT_EQ(system.PrivilegeMask(), 0);
}

TEST(PublicPrivileges, FindAssignAndClear) {
  TPrivileges privileges;
  privileges.SetGroupName("clerks");
  TObjectPrivileges& objects = privileges.ObjectPrivileges();
  TObjectPrivilege* read = objects.Add();
  read->SetObjectType(doTable);
  read->SetObjectName("Orders");
  read->SetPrivilegeType(opReadData);
  read->SetFields("ID;Total");
  read->SetGrantOption(true);

  EXPECT_EQ(objects.FindPrivilege(doTable, "Orders", opReadData), read);
  // The name is compared exactly.
  EXPECT_EQ(objects.FindPrivilege(doTable, "orders", opReadData), nullptr);
  EXPECT_EQ(objects.FindPrivilege(doTable, "Orders", opUpdateData), nullptr);
  EXPECT_EQ(objects.FindPrivilege(doNone, "Orders", opReadData), nullptr);
  EXPECT_TRUE(objects.CheckForNamedObjectPrivileges(doTable, "Orders"));
  EXPECT_FALSE(objects.CheckForNamedObjectPrivileges(doTable, "Items"));

  TObjectPrivilege* copy = objects.Add();
  copy->Assign(read);
  EXPECT_EQ(copy->ObjectName(), "Orders");
  EXPECT_EQ(copy->ObjectType(), doTable);
  EXPECT_EQ(copy->PrivilegeType(), opReadData);
  EXPECT_EQ(copy->Fields(), "ID;Total");
  EXPECT_TRUE(copy->GrantOption());

  TSystemPrivileges& system = privileges.SystemPrivileges();
  TSystemPrivilege* edit = system.Add();
  edit->SetPrivilegeType(spEditUsers);
  edit->SetGrantOption(true);
  TSystemPrivilege* other = system.Add();
  other->Assign(edit);
  EXPECT_EQ(other->PrivilegeType(), spEditUsers);
  EXPECT_TRUE(other->GrantOption());
  EXPECT_EQ(system.FindPrivilege(spEditUsers), edit);
  EXPECT_EQ(system.FindPrivilege(spViewUsers), nullptr);

  // A record of another class is refused by the library's rule.
  EXPECT_THROW(other->Assign(read), plat::EConvertError);

  privileges.ClearPrivileges();
  EXPECT_EQ(objects.Count(), 0);
  EXPECT_EQ(system.Count(), 0);
  EXPECT_EQ(privileges.GroupName(), "clerks");
}

}  // namespace
}  // namespace zel
