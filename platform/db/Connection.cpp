#include "platform/db/Connection.h"

#include <algorithm>

#include "platform/db/DataSet.h"

namespace plat {

TCustomConnection::~TCustomConnection() {
  clients_.clear();
  dataSets_.clear();
}

void TCustomConnection::SetConnected(bool Value) {
  if (ComponentState().Contains(csReading)) {
    streamedConnected_ = Value;
    return;
  }
  if (Value == GetConnected()) return;
  if (Value) {
    if (BeforeConnect) BeforeConnect(this);
    DoConnect();
    SendConnectEvent(true);
    if (AfterConnect) AfterConnect(this);
  } else {
    if (BeforeDisconnect) BeforeDisconnect(this);
    SendConnectEvent(false);
    DoDisconnect();
    if (AfterDisconnect) AfterDisconnect(this);
  }
}

TDataSet* TCustomConnection::DataSets(int32_t Index) const {
  if (Index < 0 || Index >= static_cast<int32_t>(dataSets_.size()))
    throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return dataSets_[static_cast<size_t>(Index)];
}

void TCustomConnection::RegisterClient(TObject* Client, TConnectChangeEvent Event) {
  if (Client == nullptr) return;
  for (const ClientEntry& client : clients_)
    if (client.Object == Client) return;
  clients_.push_back({Client, std::move(Event)});
  if (auto* dataSet = dynamic_cast<TDataSet*>(Client)) dataSets_.push_back(dataSet);
}

void TCustomConnection::UnRegisterClient(TObject* Client) {
  clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                [Client](const ClientEntry& c) { return c.Object == Client; }),
                 clients_.end());
  dataSets_.erase(std::remove(dataSets_.begin(), dataSets_.end(), Client), dataSets_.end());
}

void TCustomConnection::SendConnectEvent(bool Connecting) {
  // An event may unregister its client: walk a copy.
  const std::vector<ClientEntry> clients(clients_);
  for (const ClientEntry& client : clients)
    if (client.Event) client.Event(this, Connecting);
}

void TCustomConnection::Loaded() {
  TComponent::Loaded();
  if (streamedConnected_) {
    streamedConnected_ = false;
    SetConnected(true);
  }
}

}  // namespace plat
