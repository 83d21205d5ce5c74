"""A local stand-in for the Telegram Bot API server on 127.0.0.1: getMe,
getUpdates (long polling over updates a test pushes), deleteWebhook,
setMyCommands, answerCallbackQuery and sendMessage (recorded)."""

import json
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

TOKEN = "123456789:AAHdqTcvCH1vGWJxfSeofSAs0K5PALDsaw"


class BotApiStandIn:
    def __init__(self):
        self.updates = []
        self.sent = []
        self.next_id = 1
        self.cond = threading.Condition()
        self.stopping = False
        stand_in = self

        class Handler(BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_POST(self):
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(length) if length else b""
                params = json.loads(body) if body else {}
                _, bot, method = self.path.split("/", 2)
                if bot != "bot" + TOKEN:
                    return self.reply(401, {"ok": False, "error_code": 401,
                                            "description": "Unauthorized"})
                self.reply(200, {"ok": True, "result": stand_in.serve(method, params)})

            do_GET = do_POST

            def reply(self, status, payload):
                data = json.dumps(payload).encode()
                self.send_response(status)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        # A client that hung up mid-answer (the bot closing) is not an error.
        self.server.handle_error = lambda request, address: None
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}"

    def serve(self, method, params):
        if method == "getMe":
            return {"id": 123456789, "is_bot": True, "first_name": "Orbrix Test",
                    "username": "Orbrix_Test_Bot"}
        if method == "getUpdates":
            offset = int(params.get("offset") or 0)
            timeout = min(int(params.get("timeout") or 0), 2)
            with self.cond:
                self.updates = [u for u in self.updates if u["update_id"] >= offset]
                self.cond.wait_for(lambda: self.updates or self.stopping, timeout)
                return list(self.updates)
        if method == "sendMessage":
            with self.cond:
                self.sent.append((int(params["chat_id"]), params["text"]))
                self.cond.notify_all()
                return {"message_id": len(self.sent), "date": int(time.time()),
                        "chat": {"id": int(params["chat_id"]), "type": "private"},
                        "text": params["text"]}
        return True  # deleteWebhook, setMyCommands, answerCallbackQuery

    def push_command(self, chat_id, text):
        with self.cond:
            self.updates.append({"update_id": self.next_id, "message": {
                "message_id": self.next_id, "date": int(time.time()), "text": text,
                "chat": {"id": chat_id, "type": "private"},
                "from": {"id": chat_id, "is_bot": False, "first_name": "Operator"},
                "entities": [{"type": "bot_command", "offset": 0,
                              "length": len(text.split()[0])}]}})
            self.next_id += 1
            self.cond.notify_all()

    def wait_sent(self, predicate, timeout=5.0):
        with self.cond:
            return self.cond.wait_for(lambda: any(predicate(s) for s in self.sent), timeout)

    def close(self):
        with self.cond:
            self.stopping = True
            self.cond.notify_all()
        self.server.shutdown()
        self.server.server_close()
