#include "commands/instance_protocol.h"

#include "commands/handler_command.h"
#include "registry/ring_layout.h"

namespace zanvor {

InstanceProtocol::InstanceProtocol(InstanceEnv& env, SubscriptionTables::NameCompare compare,
                                   LeadByteTest isLeadByte)
    : tables(compare), env_(env), isLeadByte_(isLeadByte) {}

bool InstanceProtocol::OpenMailslotServer() {
  const bool won = env_.ClaimServerRole();
  serverWindow = won ? mainWindow : 0;
  return won;
}

void InstanceProtocol::Join() {
  leaving_ = false;
  heldPosts_.clear();
  queryInFlight_ = false;
  if (OpenMailslotServer()) {
    env_.Broadcast(MakeWParam(kServerAnnounce), mainWindow);
  } else {
    AskForServer();
  }
}

void InstanceProtocol::Leave() {
  leaving_ = true;
  heldPosts_.clear();
  if (IsServer()) {
    serverWindow = 0;
    env_.Broadcast(MakeWParam(kServerLeaving), 0);
    return;
  }
  tables.WithdrawAll(*this);
}

void InstanceProtocol::OnInstanceMessage(uint32_t wParam, uint32_t lParam) {
  switch (CodeOf(wParam)) {
    case kServerAnnounce:
      if (!IsServer()) LearnServer(lParam);
      break;
    case kRegisterSubscriber:
      // lParam 0 would read as "this instance's own SUBSCRIBE" and wipe a
      // handler; no instance sends it.
      if (lParam != 0) {
        tables.AddSubscription({lParam, env_.ReadText(PositionOf(wParam)), std::string()}, *this);
      }
      break;
    case kUnregisterSubscriber:
      if (lParam != 0) {
        tables.RemoveSubscription({lParam, env_.ReadText(PositionOf(wParam)), std::string()},
                                  *this);
      }
      break;
    case kServerLeaving:
      if (OpenMailslotServer()) {
        ReleaseHeldPosts();
      } else {
        // Asked even when a question of ours is on its way: that one may
        // reach the winner before its claim and go unanswered.
        queryInFlight_ = false;
        AskForServer();
      }
      break;
    case kServerReply:
      // A reply that was on its way when this instance won the role names a
      // server that has left; following it would leave the machine with a
      // mutex owner that answers no query.
      if (!IsServer()) LearnServer(lParam);
      break;
    case kServerQuery:
      if (IsServer()) {
        env_.Post(lParam, MakeWParam(kServerReply), mainWindow);
      } else if (lParam == mainWindow) {
        // Our own question is back: this instance's message loop has come
        // round, so a later call that still finds no server may ask again
        // without flooding the machine.
        queryInFlight_ = false;
      }
      break;
    case kDeliverText:
      OnDeliverText(wParam, lParam);
      break;
    case kTableFull:
      env_.ShowErrorBox(kTableFullText);
      break;
    case kPostLocalText:
      OnPostLocalText(wParam, lParam);
      break;
    default:
      break;
  }
}

void InstanceProtocol::Subscribe(const std::string& name, const std::string& handler) {
  tables.AddSubscription({0, name, handler}, *this);
  // Without a server the name was kept here only; it is registered with the
  // server found (ReregisterAll) or is already in the table of the winner.
  SeekServer();
}

void InstanceProtocol::Unsubscribe(const std::string& name) {
  tables.RemoveSubscription({mainWindow, name, std::string()}, *this);
}

std::string InstanceProtocol::ListSubscriptions() const { return tables.ListFor(mainWindow); }

bool InstanceProtocol::PostLocal(const std::string& text) {
  const uint16_t position = env_.StoreText(text);
  if (position == 0) return false;
  const uint32_t wParam = MakeWParam(kPostLocalText, position);
  if (serverWindow != 0) {
    Post(serverWindow, wParam, TextCheck(text));
    return true;
  }
  // A post to the null window would succeed and be lost.
  if (!leaving_) heldPosts_.push_back({wParam, TextCheck(text)});
  SeekServer();
  return true;
}

void InstanceProtocol::DispatchReceived(const std::string& name, const std::string& message) {
  const int slot = tables.FindSubscription(name);
  if (slot < 0) return;
  const std::string text = name + ":" + message;
  FanOut(slot, env_.StoreText(text), TextCheck(text));
}

void InstanceProtocol::RunHandler(const std::string& name, const std::string& message) {
  const int slot = tables.FindSubscription(name);
  if (slot < 0) return;
  // A copy: the host may pump messages while it executes the command, and
  // the record may change meanwhile.
  const std::string handler = tables.records[slot].handler;
  std::string command;
  if (!BuildHandlerCommand(handler, message, &command, isLeadByte_)) return;
  env_.ExecuteCommand(command);
}

PostResult InstanceProtocol::Post(uint32_t window, uint32_t wParam, uint32_t lParam) {
  const PostResult result = env_.Post(window, wParam, lParam);
  if (result == PostResult::kWindowGone && !leaving_ && RemoteServerKnown() &&
      window == serverWindow) {
    ReplaceGoneServer(wParam, lParam);
  }
  return result;
}

// The server ended without unloading: it broadcast no ServerLeaving, so this
// instance claims as if it had.
//
// Only a text post is made again. A name post needs no second try: the new
// server's table is rebuilt from ReregisterAll, which already reflects it,
// and an Unregister replayed after that could undo a later SUBSCRIBE of the
// same name.
void InstanceProtocol::ReplaceGoneServer(uint32_t wParam, uint32_t lParam) {
  if (CodeOf(wParam) == kPostLocalText) heldPosts_.push_back({wParam, lParam});
  serverWindow = 0;
  SeekServer();
}

// A won claim is announced rather than kept quiet: the others may still
// point at a dead window, or know no server either.
void InstanceProtocol::SeekServer() {
  if (leaving_ || serverWindow != 0) return;
  if (OpenMailslotServer()) {
    queryInFlight_ = false;
    env_.Broadcast(MakeWParam(kServerAnnounce), mainWindow);
    ReleaseHeldPosts();
    return;
  }
  AskForServer();
}

void InstanceProtocol::AskForServer() {
  if (queryInFlight_) return;
  queryInFlight_ = true;
  env_.Broadcast(MakeWParam(kServerQuery), mainWindow);
}

void InstanceProtocol::LearnServer(uint32_t window) {
  serverWindow = window;
  queryInFlight_ = false;
  tables.ReregisterAll(*this);
  // After the names, so that a held text reaches this instance's own
  // subscriptions too.
  ReleaseHeldPosts();
}

void InstanceProtocol::ReleaseHeldPosts() {
  std::vector<HeldPost> held;
  held.swap(heldPosts_);
  for (const HeldPost& post : held) {
    if (IsServer()) {
      env_.Post(mainWindow, post.wParam, post.lParam);
    } else if (RemoteServerKnown()) {
      Post(serverWindow, post.wParam, post.lParam);  // may fail and be held again
    } else {
      heldPosts_.push_back(post);
    }
  }
}

bool InstanceProtocol::ReadCheckedText(uint32_t wParam, uint32_t check, std::string* text) {
  *text = env_.ReadText(PositionOf(wParam));
  return check == 0 || TextCheck(*text) == check;
}

void InstanceProtocol::FanOut(int slot, uint16_t position, uint32_t check) {
  for (const uint32_t window : tables.WindowsOf(slot)) {
    // The server forgets a window that no longer exists (an instance that
    // ended without unloading), so that its names can be freed again.
    if (env_.Post(window, MakeWParam(kDeliverText, position), check) == PostResult::kWindowGone) {
      tables.ForgetWindow(window);
    }
  }
}

void InstanceProtocol::OnDeliverText(uint32_t wParam, uint32_t lParam) {
  std::string text;
  if (!ReadCheckedText(wParam, lParam, &text)) return;
  std::string name;
  std::string message;
  SplitNameMessage(text, isLeadByte_, &name, &message);
  RunHandler(name, message);
}

void InstanceProtocol::OnPostLocalText(uint32_t wParam, uint32_t lParam) {
  std::string text;
  if (!ReadCheckedText(wParam, lParam, &text)) return;
  std::string name;
  std::string message;
  SplitNameMessage(text, isLeadByte_, &name, &message);
  const int slot = tables.FindSubscription(name);
  if (slot < 0) return;
  // The text is not stored again; the check goes on with it, computed here
  // so that a text from an older poster (lParam 0) is protected from now on.
  FanOut(slot, PositionOf(wParam), TextCheck(text));
}

}  // namespace zanvor
