"""The control bot driven from Python against a local Bot API stand-in."""

import time

import pytest

import orbrix_cqg as cqg

from bot_api_stand_in import TOKEN, BotApiStandIn

OPERATOR = 408258968


def eventually(predicate, timeout=5.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.01)
    return predicate()


@pytest.fixture
def api():
    stand_in = BotApiStandIn()
    yield stand_in
    stand_in.close()


@pytest.fixture
def bot(api):
    lines = []
    b = cqg.TelegramBot(TOKEN, api_url=api.url, chat_id=OPERATOR, poll_timeout=1,
                        request_timeout=5, log=lines.append)
    yield b, lines
    b.close()


def test_commands_raise_requests_the_engine_serves(api, bot):
    bot, _ = bot
    assert bot.orbrix_status == "Running" and bot.polling
    api.push_command(OPERATOR, "/balance")
    assert eventually(lambda: bot.get_balance)
    assert bot.pending(cqg.RequestKind.balance) == 1
    assert bot.take_balance() and not bot.get_balance and not bot.take_balance()

    api.push_command(OPERATOR, "/send_order EP,2,l,o,l,CQG,6050.25,None")
    assert eventually(lambda: bot.send_order)
    assert bot.order_string == "EP,2,l,o,l,CQG,6050.25,None"
    assert bot.take_send_order() == "EP,2,l,o,l,CQG,6050.25,None"
    assert bot.take_send_order() is None

    api.push_command(OPERATOR, "/stop")
    assert eventually(lambda: bot.orbrix_status == "Terminated")


def test_properties_are_set_from_python_and_messages_sent(api, bot):
    bot, _ = bot
    bot.get_positions = True
    assert bot.get_positions
    bot.get_positions = False
    bot.num_deals_displayed = 5
    assert bot.num_deals_displayed == 5
    bot.cancel_order_id = "A1"
    assert bot.cancel_order_id == "A1"
    bot.send_message("balance 100000.00")
    assert api.wait_sent(lambda s: s == (OPERATOR, "balance 100000.00"))
    with pytest.raises(ValueError):
        bot.send_message("   ")


def test_other_chats_are_refused_and_a_bad_token_is_a_value_error(api, bot):
    bot, lines = bot
    api.push_command(777, "/balance")
    assert eventually(lambda: any("from chat 777: not an allowed chat" in line for line in lines))
    assert not bot.get_balance
    with pytest.raises(ValueError):
        cqg.TelegramBot("not a token", api_url=api.url)
