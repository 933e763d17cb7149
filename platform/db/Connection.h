#pragma once
// TCustomConnection: the base of connection components. A descendant
// overrides DoConnect, DoDisconnect and GetConnected; datasets register
// themselves as clients so the connection can reach them.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/Classes.h"
#include "platform/rtl/Visibility.h"

namespace plat {

class TDataSet;

using TConnectChangeEvent = std::function<void(TObject* Sender, bool Connecting)>;

class PLAT_API TCustomConnection : public TComponent {
 public:
  explicit TCustomConnection(TComponent* AOwner) : TComponent(AOwner) {}
  ~TCustomConnection() override;
  std::string ClassName() const override { return "TCustomConnection"; }

  bool Connected() const { return GetConnected(); }
  // True: BeforeConnect, DoConnect, the clients' connect events (true),
  // AfterConnect. False: BeforeDisconnect, the clients' events (false),
  // DoDisconnect, AfterDisconnect. Nothing when already so. While the
  // component is read from a stream, True is kept for Loaded.
  virtual void SetConnected(bool Value);
  virtual bool GetConnected() const { return false; }
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }

  // The registered datasets.
  virtual int32_t DataSetCount() const { return static_cast<int32_t>(dataSets_.size()); }
  virtual TDataSet* DataSets(int32_t Index) const;
  // Registers a client once (datasets also join DataSets); Event runs on
  // every connect and disconnect.
  virtual void RegisterClient(TObject* Client, TConnectChangeEvent Event = nullptr);
  virtual void UnRegisterClient(TObject* Client);
  int32_t ClientCount() const { return static_cast<int32_t>(clients_.size()); }

  TNotifyEvent BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;

  void Loaded() override;

 protected:
  virtual void DoConnect() {}
  virtual void DoDisconnect() {}
  void SendConnectEvent(bool Connecting);
  bool StreamedConnected() const { return streamedConnected_; }

 private:
  struct ClientEntry {
    TObject* Object;
    TConnectChangeEvent Event;
  };
  std::vector<ClientEntry> clients_;
  std::vector<TDataSet*> dataSets_;
  bool streamedConnected_ = false;
};

}  // namespace plat
