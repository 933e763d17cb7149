#include "platform/db/DBConsts.h"

#include "platform/rtl/Classes.h"
#include "platform/rtl/Exceptions.h"

namespace plat {

void DatabaseError(const std::string& Message, const TComponent* Component) {
  if (Component != nullptr && !Component->Name().empty())
    throw EDatabaseError(Component->Name() + ": " + Message);
  throw EDatabaseError(Message);
}

void DatabaseErrorFmt(const std::string& Message, std::initializer_list<TVarRec> Args,
                      const TComponent* Component) {
  DatabaseError(Format(Message, Args), Component);
}

}  // namespace plat
