"""Your first engine: log on to the simulator, print EP's quotes for a few
seconds, log off."""
import time, orbrix_cqg as cqg
EP = cqg.Futures(code="EP", security_name="E-mini S&P 500")
class Engine(cqg.BaseGateway):
    get_eng_security_from_cqg_symbol = lambda self, symbol: EP if symbol.startswith("EP") else None
    get_cqg_symbol_from_eng_security = lambda self, security: "EP"
    process_quote = lambda self, quote: print("quote", quote.bid_price, quote.ask_price)
    process_orderbook = process_order = process_deal = lambda self, record: print(record)
host, engine = cqg.ApiHost(), Engine(); engine.apiHost = host; engine.cqg_quotes[EP] = None
link = host.Init(cqg.BrokerLink); link.Init(engine); link.Logon("user", "secret")
link.subscribe_quote("EP"); time.sleep(3); link.Logoff(); host.Shutdown()
