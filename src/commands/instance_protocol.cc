#include "commands/instance_protocol.h"

#include "commands/handler_command.h"
#include "registry/ring_layout.h"

namespace zanvor {

InstanceProtocol::InstanceProtocol(InstanceEnv& env, SubscriptionTables::NameCompare compare,
                                   LeadByteTest isLeadByte)
    : tables(compare), env_(env), isLeadByte_(isLeadByte) {}

bool InstanceProtocol::TryClaimServerRole() {
  // Nobody could reach an instance that has not joined: as the server it
  // would hold the machine's role and answer nobody.
  const bool won = joined_ && env_.ClaimServerRole();
  serverWindow = won ? mainWindow : 0;
  // The server's own names are in its own tables: nothing to wait for.
  if (won) StopAwaitingAll();
  return won;
}

void InstanceProtocol::Join() {
  leaving_ = false;
  heldPosts_.clear();
  queryInFlight_ = false;
  settling_ = false;
  joined_ = mainWindow != 0;
  if (!joined_) return;
  // No settle here: an instance that has just loaded holds no posts, and the
  // others hold none for a server they have not heard of.
  if (TryClaimServerRole()) {
    env_.Broadcast(MakeWParam(kServerAnnounce), mainWindow);
  } else {
    AskForServer();
  }
}

void InstanceProtocol::Leave() {
  leaving_ = true;
  joined_ = false;
  // What a settling server holds goes to the subscribers registered so far
  // rather than nowhere: the next server's table starts empty.
  const bool settled = settling_ && IsServer();
  settling_ = false;
  env_.CancelSettleTimer();
  if (settled) FanOutHeldPosts();
  heldPosts_.clear();
  StopAwaitingAll();
  if (IsServer()) {
    serverWindow = 0;
    env_.Broadcast(MakeWParam(kServerLeaving), 0);
    return;
  }
  ForwardAll(kUnregisterSubscriber);
}

void InstanceProtocol::OnInstanceMessage(uint32_t wParam, uint32_t lParam) {
  // Only a window the library subclassed gets these; one that reaches an
  // instance outside Join and Leave was meant for somebody else.
  if (!joined_) return;
  switch (CodeOf(wParam)) {
    case kServerAnnounce:
      if (!IsServer()) LearnServer(lParam);
      break;
    // lParam 0 would read as "this instance's own SUBSCRIBE" and wipe a
    // handler; no instance sends it. A client gets these only when they were
    // meant for the server its window was before it loaded again: its tables
    // hold only its own names, so it keeps nothing, and it passes nothing
    // on, since the change could reach the server after a later one of the
    // subscriber's own. The subscriber sends its names again, and its
    // unacknowledged withdrawals, to the server it finds.
    case kRegisterSubscriber:
    case kUnregisterSubscriber:
      if (lParam != 0 && IsServer()) OnNameChange(wParam, lParam);
      break;
    case kServerLeaving:
      if (TryClaimServerRole()) {
        // The others ask for the winner and register with it on its reply.
        StartSettle();
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
        // The asker has just loaded, or lost its server: either way it sends
        // every name it holds once it has the reply, after this. What the
        // tables hold for it from before (a withdrawal at its last unload
        // whose record was overwritten) would otherwise stay for good.
        if (lParam != mainWindow) tables.ForgetWindow(lParam);
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

void InstanceProtocol::OnExtensionMessage(ExtensionMessage message, uint32_t wParam,
                                          uint32_t lParam) {
  switch (message) {
    case ExtensionMessage::kRegisterAck:
      OnRegisterAck(wParam, lParam);
      break;
    case ExtensionMessage::kRegisterUndo:
      OnRegisterUndo(wParam, lParam);
      break;
    case ExtensionMessage::kStatus:
      if (CodeOf(wParam) == kStatusRequest && lParam != 0) AnswerStatus(lParam);
      break;
  }
}

void InstanceProtocol::Subscribe(const std::string& name, const std::string& handler) {
  AddToTables({mainWindow, name, handler, true});
  // Without a server the name was kept here only; it is registered with the
  // server found (LearnServer) or is already in the table of the winner.
  SeekServer();
}

void InstanceProtocol::Unsubscribe(const std::string& name) { RemoveFromTables(mainWindow, name); }

std::string InstanceProtocol::ListSubscriptions() const { return tables.ListFor(mainWindow); }

bool InstanceProtocol::PostLocal(const std::string& text) {
  if (!joined_) return false;
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
// server's table is rebuilt from the names LearnServer sends, which already
// reflect it, and an Unregister replayed after that could undo a later
// SUBSCRIBE of the same name.
void InstanceProtocol::ReplaceGoneServer(uint32_t wParam, uint32_t lParam) {
  if (CodeOf(wParam) == kPostLocalText) heldPosts_.push_back({wParam, lParam});
  serverWindow = 0;
  SeekServer();
}

// A won claim is announced rather than kept quiet: the others may still
// point at a dead window, or know no server either.
void InstanceProtocol::SeekServer() {
  if (!joined_ || leaving_ || serverWindow != 0) return;
  if (TryClaimServerRole()) {
    queryInFlight_ = false;
    env_.Broadcast(MakeWParam(kServerAnnounce), mainWindow);
    // The post that found the old server dead is for every subscriber of
    // the machine, and they register with this one on the announcement.
    StartSettle();
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
  // An announcement or reply naming this very window comes from an earlier
  // load in this host, queued before it unloaded: the role it names may
  // have gone to another instance since. It is only ever taken by a claim.
  // Window 0 comes from no instance of ours (a broken or hostile program):
  // every post to it would succeed and be lost.
  if (window == 0 || window == mainWindow) return;
  serverWindow = window;
  queryInFlight_ = false;
  // A new round: acknowledgements of what was sent before no longer count,
  // and withdrawals not acknowledged go to this server too.
  const std::vector<std::string> withdrawals = pending_.StartOver();
  ForwardAll(kRegisterSubscriber);
  for (const std::string& name : withdrawals) {
    if (!RemoteServerKnown()) break;
    ForwardName(kUnregisterSubscriber, name, mainWindow);
  }
  // After the names, so that a held text reaches this instance's own
  // subscriptions too.
  ReleaseHeldPosts();
}

// Held posts wait for the server's settle timer; when none could be set
// they go out at once, as before there was a settle.
void InstanceProtocol::StartSettle() {
  settling_ = env_.ArmSettleTimer(kServerSettleMs);
  if (!settling_) ReleaseHeldPosts();
}

void InstanceProtocol::OnSettleTimer() {
  env_.CancelSettleTimer();
  if (!settling_) return;
  settling_ = false;
  if (IsServer()) {
    FanOutHeldPosts();
  } else {
    ReleaseHeldPosts();
  }
}

// Straight from here rather than through this window's queue: a post that
// arrived after the settle is queued there and must not overtake them.
void InstanceProtocol::FanOutHeldPosts() {
  std::vector<HeldPost> held;
  held.swap(heldPosts_);
  for (const HeldPost& post : held) OnPostLocalText(post.wParam, post.lParam);
}

void InstanceProtocol::ReleaseHeldPosts() {
  if (settling_ && IsServer()) return;  // the settle timer sends them
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
  if (check == 0 || TextCheck(*text) == check) return true;
  ++counters.textsDropped;
  return false;
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
  SplitNameMessage(text, &name, &message);
  RunHandler(name, message);
}

void InstanceProtocol::OnPostLocalText(uint32_t wParam, uint32_t lParam) {
  if (settling_ && IsServer()) {
    heldPosts_.push_back({wParam, lParam});
    return;
  }
  std::string text;
  if (!ReadCheckedText(wParam, lParam, &text)) return;
  std::string name;
  std::string message;
  SplitNameMessage(text, &name, &message);
  const int slot = tables.FindSubscription(name);
  if (slot < 0) return;
  // The text is not stored again; the check goes on with it, computed here
  // so that a text from an older poster (lParam 0) is protected from now on.
  FanOut(slot, PositionOf(wParam), TextCheck(text));
}

void InstanceProtocol::AnswerStatus(uint32_t window) {
  StatusReport report;
  report.window = mainWindow;
  report.serverWindow = serverWindow;
  report.isServer = IsServer();
  report.instance = counters;
  for (int slot = 0; slot < SubscriptionTables::kRecordCount; ++slot) {
    if (tables.records[slot].inUse != 1) continue;
    ++report.tableNames;
    if (tables.FindSubscriber(slot, mainWindow) >= 0) ++report.ownNames;
  }
  for (const SubscriberEntry& entry : tables.entries) {
    report.tableEntries += entry.slot != SubscriptionTables::kFreeSlot;
  }
  env_.AddMachineStatus(&report);
  const std::string text = FormatStatusReport(report);
  const uint16_t position = env_.StoreText(text);
  if (position == 0) return;
  env_.PostExtension(ExtensionMessage::kStatus, window, MakeStatusAnswer(position),
                     TextCheck(text));
}

// The names. The server applies the changes the others send it and
// acknowledges each; a client passes each change of its own names on to the
// server and sends it again until it is acknowledged (PendingNameChanges
// keeps the books). TableFull goes to the window that asked.

void InstanceProtocol::AddToTables(const SubscriptionRequest& request) {
  const TableOutcome outcome = tables.AddSubscription(request);
  if (outcome == TableOutcome::kFull) {
    Post(request.window, MakeWParam(kTableFull), 0);
  } else if (outcome != TableOutcome::kRefused && RemoteServerKnown()) {
    ForwardName(kRegisterSubscriber, request.name, request.window);
  }
}

// A withdrawal is passed on even when the tables did not hold the pair: the
// server may hold it all the same.
void InstanceProtocol::RemoveFromTables(uint32_t window, const std::string& name) {
  if (tables.RemoveSubscription(window, name) != TableOutcome::kRefused && RemoteServerKnown()) {
    ForwardName(kUnregisterSubscriber, name, window);
  }
}

// A registration or withdrawal another instance sent the server.
void InstanceProtocol::OnNameChange(uint32_t wParam, uint32_t window) {
  const std::string name = env_.ReadName(PositionOf(wParam));
  if (CodeOf(wParam) == kRegisterSubscriber) {
    AddToTables({window, name, std::string(), false});
  } else {
    RemoveFromTables(window, name);
  }
  Acknowledge(wParam, window, name);
}

void InstanceProtocol::Acknowledge(uint32_t wParam, uint32_t window, const std::string& name) {
  // Tells the client which name arrived and what was done under it, so that
  // it can send a change again whose record was overwritten or never stored,
  // and set right what the server did with another name read in its place.
  if (window == mainWindow) return;
  env_.PostExtension(ExtensionMessage::kRegisterAck, window,
                     MakeRegisterAck(CodeOf(wParam), PositionOf(wParam)), TextCheck(name));
}

// In slot order, for as long as a remote server is known (checked before
// each name, since a post may find it gone). Every name goes with this
// instance's window, whatever its entries hold.
void InstanceProtocol::ForwardAll(InstanceCode code) {
  for (const std::string& name : tables.Names()) {
    if (!RemoteServerKnown()) return;
    ForwardName(code, name, mainWindow);
  }
}

void InstanceProtocol::ForwardName(InstanceCode code, const std::string& name, uint32_t window) {
  // At unload nothing waits for an acknowledgement any more.
  if (window != mainWindow || leaving_) {
    // A name that could not be stored is not posted: the server would read
    // whatever text the ring's first record holds.
    const uint16_t position = env_.StoreText(name);
    if (position != 0) Post(serverWindow, MakeWParam(code, position), window);
    return;
  }
  // Only this change starts its schedule afresh; the others keep theirs.
  SendPending(name, code, true);
  // The post may have found the server gone, and this instance may have won
  // the role since.
  if (RemoteServerKnown()) ArmForEarliest();
}

// Stores `name` and posts `code` for this instance's window, awaiting the
// acknowledgement of that copy, unless the tables no longer call for the
// change.
void InstanceProtocol::SendPending(const std::string& name, InstanceCode code, bool fresh) {
  const bool held = tables.FindSubscription(name) >= 0;
  if (!pending_.Prepare(name, code, held, fresh, env_.NowMs())) return;
  const uint16_t position = env_.StoreText(name);
  // Not posted, as in ForwardName; the timer tries again.
  if (position == 0) return;
  pending_.Sent(name, position);
  // Last: the post may find the server gone and change everything above.
  Post(serverWindow, MakeWParam(code, position), mainWindow);
}

// Sends again each name change whose time has come; see PendingNameChanges.
void InstanceProtocol::OnRetryTimer() {
  env_.CancelRetryTimer();
  if (pending_.empty()) return;
  if (!RemoteServerKnown() || leaving_) {
    // Not given up: the next server gets every name again, and at unload
    // nothing is owed any more.
    pending_.Clear();
    return;
  }
  for (const PendingNameChanges::Change& change : pending_.TakeDue(env_.NowMs())) {
    if (!RemoteServerKnown()) return;  // a post found the server gone
    SendPending(change.name, change.code);
  }
  ArmForEarliest();
}

// Arms the retry timer for the change due first.
void InstanceProtocol::ArmForEarliest() {
  if (pending_.empty()) {
    env_.CancelRetryTimer();
    return;
  }
  env_.ArmRetryTimer(pending_.WaitFrom(env_.NowMs()));
}

void InstanceProtocol::OnRegisterAck(uint32_t wParam, uint32_t check) {
  if (!RemoteServerKnown()) return;
  const std::vector<std::string> held = NamesWithCheck(check);
  switch (pending_.Acknowledge(PositionOf(wParam), CodeOf(wParam), check, !held.empty())) {
    case PendingNameChanges::AckVerdict::kConfirmed:
      ArmForEarliest();
      break;
    case PendingNameChanges::AckVerdict::kRegisterAgain:
      ForwardName(kRegisterSubscriber, held.back(), mainWindow);
      break;
    case PendingNameChanges::AckVerdict::kUndo:
      env_.PostExtension(ExtensionMessage::kRegisterUndo, serverWindow, check, mainWindow);
      break;
    case PendingNameChanges::AckVerdict::kNone:
      break;
  }
}

// The in-use names whose TextCheck is `check`, in slot order.
std::vector<std::string> InstanceProtocol::NamesWithCheck(uint32_t check) const {
  std::vector<std::string> names;
  for (const std::string& name : tables.Names()) {
    if (TextCheck(name) == check) names.push_back(name);
  }
  return names;
}

void InstanceProtocol::OnRegisterUndo(uint32_t check, uint32_t window) {
  if (!IsServer() || window == 0 || window == mainWindow) return;
  for (const std::string& name : NamesWithCheck(check)) RemoveFromTables(window, name);
}

void InstanceProtocol::StopAwaitingAll() {
  if (pending_.empty()) return;
  pending_.Clear();
  env_.CancelRetryTimer();
}

std::vector<std::string> InstanceProtocol::AwaitingAck() const { return pending_.Names(); }

}  // namespace zanvor
