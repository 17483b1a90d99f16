"""A real SMTP server (aiosmtpd) on an ephemeral loopback port for the SMTP client tests.

Usage: smtp_sink.py FOLDER. Prints the port on the first line of standard output, then
stores message N as FOLDER/messageN.eml (the raw data) and FOLDER/messageN.json (envelope,
headers in order with encoded words decoded, and the body decoded, as Python's email
package reads them). It stops when its standard input closes, or after ten minutes
whatever happens.

Some mailboxes make it misbehave: RCPT TO a mailbox named "nobody" gets 550, a message
for a mailbox named "reject" is refused with 554 after its data, and one for "silent"
gets no answer to its end at all (neither is kept).
"""
import asyncio
import email
import email.policy
import json
import os
import sys
from email.header import decode_header, make_header

from aiosmtpd.smtp import SMTP


class Sink:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.split("@")[0].lower() == "nobody":
            return "550 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if any(r.split("@")[0].lower() == "reject" for r in envelope.rcpt_tos):
            return "554 Message refused: content not accepted"
        if any(r.split("@")[0].lower() == "silent" for r in envelope.rcpt_tos):
            await asyncio.sleep(3600)
        self.count += 1
        base = os.path.join(self.folder, "message%d" % self.count)
        raw = envelope.original_content or envelope.content
        with open(base + ".eml", "wb") as f:
            f.write(raw)
        message = email.message_from_bytes(raw, policy=email.policy.compat32)
        # Parsed from bytes, a header with 8-bit text comes back as a Header
        # object that neither prints nor serialises; read as text it stays text.
        as_text = email.message_from_string(raw.decode("utf-8", "replace"), policy=email.policy.compat32)
        record = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "headers": [[name, str(make_header(decode_header(value)))] for name, value in as_text.items()],
            "body": message.get_payload(decode=True).decode("utf-8", "replace"),
        }
        # Written whole, then renamed: the test waits for this file to appear.
        with open(base + ".json.tmp", "w", encoding="utf-8") as f:
            json.dump(record, f)
        os.replace(base + ".json.tmp", base + ".json")
        return "250 Message accepted for delivery"


async def main(folder):
    loop = asyncio.get_running_loop()
    sink = Sink(folder)
    server = await loop.create_server(lambda: SMTP(sink, hostname="sink.test"), "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    stdin_closed = loop.run_in_executor(None, sys.stdin.read)
    await asyncio.wait([stdin_closed], timeout=600)
    server.close()


if __name__ == "__main__":
    try:
        asyncio.run(asyncio.wait_for(main(sys.argv[1]), timeout=620))
    finally:
        # The reader thread may still block on standard input.
        os._exit(0)
