"""An engine steered from Telegram: serves /balance, /positions and /stop
from its own thread while it runs over the simulator. Without
TELEGRAM_TOKEN there is no bot and the engine runs alone for a few seconds.

    TELEGRAM_TOKEN=123:abc TELEGRAM_CHAT_ID=408258968 python3 bot_engine.py
"""
import os
import time

import orbrix_cqg as cqg


class Gateway(cqg.BaseGateway):
    def get_eng_security_from_cqg_symbol(self, symbol: str) -> cqg.Security | None:
        return None  # this engine trades nothing; it only answers the operator

    def get_cqg_symbol_from_eng_security(self, security: cqg.Security) -> str:
        return security.code

    def process_quote(self, quote: cqg.Quote) -> None: pass
    def process_orderbook(self, orderbook: cqg.OrderBook) -> None: pass
    def process_order(self, update: cqg.OrderUpdate) -> None: pass
    def process_deal(self, deal: cqg.Deal) -> None: pass


def make_bot() -> cqg.TelegramBot | None:
    """The bot from the environment, or None without a token."""
    token = os.environ.get("TELEGRAM_TOKEN")
    if not token:
        print("no TELEGRAM_TOKEN: no bot, the engine runs alone")
        return None
    chat = os.environ.get("TELEGRAM_CHAT_ID")
    allowed = [int(c) for c in os.environ.get("TELEGRAM_ALLOWED_CHAT_IDS", "").split(",") if c]
    return cqg.TelegramBot(token, chat_id=int(chat) if chat else None, allowed_chat_ids=allowed,
                           confirm_trades=os.environ.get("TELEGRAM_CONFIRM_TRADES") == "true")


def serve(bot: cqg.TelegramBot, link: cqg.BrokerLink) -> None:
    """Answers every pending request this engine knows; engine thread."""
    while bot.take_balance():
        b = link.account_balance()
        bot.send_message(f"cash {b.cash:.2f}, realized {b.realized_pnl:.2f}, "
                         f"unrealized {b.unrealized_pnl:.2f}")
    while bot.take_positions():
        lines = [f"{p.security.code} {p.direction.name} {p.quantity:g}" for p in link.positions()]
        bot.send_message("\n".join(lines) or "no open position")


host, gateway = cqg.ApiHost(), Gateway()
gateway.apiHost = host
link = host.Init(cqg.BrokerLink)
link.Init(gateway)
link.Logon("demo", "demo")
link.subscribe_account_and_positions(100001)
bot = make_bot()
deadline = time.monotonic() + (3600 if bot else 2)
while time.monotonic() < deadline and (bot is None or bot.orbrix_status != "Terminated"):
    if bot:
        serve(bot, link)
    time.sleep(0.2)
if bot:
    bot.abandon_pending("the engine stopped")
    bot.close()
link.Logoff()
host.Shutdown()
