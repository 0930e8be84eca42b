"""The mailbox the interop tests store in Dovecot.

Every message starts with a Return-Path line, as delivered mail does, and has CR LF line ends.
Each one says what a client must receive through the proxy while "GB2312" and "big5" are
blocked and mail without a character set is caught (as headless always has it):
  "unchanged" - byte for byte as Dovecot serves it,
  "tag"       - the tag goes right behind "Subject: " (one space more before an encoded word),
  "insert"    - a line "Subject: [VudOdirOro]" follows the To field (and its continuation);
and, where it differs, what it must receive with [Tagging] EncodedWords on, with the blocked
entry a tagged message matches (named by X-Quorlin-Charset where CharsetHeader is on).
"""

import base64
import random
from dataclasses import dataclass

BLOCKED_CHARSETS = ["GB2312", "big5"]
TAG = b"[VudOdirOro]"
BIG_MESSAGE_SIZE = 5 * 1024 * 1024


@dataclass
class Message:
    label: str
    filename: str  # in Maildir/new
    data: bytes
    when_blocked: str  # "unchanged", "tag" or "insert"
    entry: bytes = None  # the blocked entry it matches; None for none or mail without a charset
    with_encoded_words: str = None  # when_blocked with EncodedWords on; None: the same

    def change(self, encoded_words):
        if encoded_words and self.with_encoded_words is not None:
            return self.with_encoded_words
        return self.when_blocked


def _message(headers, body_lines):
    lines = list(headers) + [b""] + list(body_lines)
    return b"\r\n".join(lines) + b"\r\n"


def _encoded_word(charset, text, codec):
    return b"=?" + charset + b"?B?" + base64.b64encode(text.encode(codec)) + b"?="


def _common(subject_line, content_type, message_id):
    headers = [
        b"Return-Path: <sender@example.org>",
        b"Delivered-To: quorlin@example.net",
        b"From: Sender <sender@example.org>",
        b"To: Quorlin User <quorlin@example.net>",
    ]
    if subject_line is not None:
        headers.append(subject_line)
    headers.append(b"Date: Tue, 14 Mar 2023 09:26:53 +0900")
    headers.append(b"Message-ID: <" + message_id + b"@example.org>")
    if content_type is not None:
        headers += [b"MIME-Version: 1.0", content_type,
                    b"Content-Transfer-Encoding: 8bit"]
    return headers


def _high_byte_lines(rng, count, width=76):
    """Lines of bytes 0x80-0xFF in random order: not valid code page 932 (lone lead bytes,
    undefined bytes 0xA0 and 0xFD-0xFF)."""
    every = bytes(range(0x80, 0x100))
    lines = [every[:64], every[64:]]
    for _ in range(count):
        lines.append(bytes(rng.randrange(0x80, 0x100) for _ in range(width)))
    lines.append(b"ends on a lead byte \x81")
    lines.append(b"\x82")
    return lines


def build_messages():
    rng = random.Random(20230314)
    messages = []

    def add(name, data, when_blocked, entry=None, with_encoded_words=None):
        n = len(messages)
        messages.append(Message(name, "17000000%02d.M%dP1.interop" % (n, n), data, when_blocked,
                                entry, with_encoded_words))

    add("ascii-dots", _message(
        _common(b"Subject: Dots at line starts",
                b"Content-Type: text/plain; charset=us-ascii", b"dots"),
        [b"A line.", b".", b"..", b".hidden", b"...three", b"", b"end."]), "unchanged")

    add("latin1", _message(
        _common(b"Subject: Caf\xe9 cr\xe8me",
                b"Content-Type: text/plain; charset=iso-8859-1", b"latin1"),
        [b"Gr\xfc\xdfe aus K\xf6ln, \xa9 \xb5 \xbf\xa1 \xff\xfe\xfd", b"na\xefve fa\xe7ade"]),
        "unchanged")

    add("utf8", _message(
        _common(b"Subject: " + _encoded_word(b"UTF-8", "会議の資料 ✓", "utf-8"),
                b"Content-Type: text/plain; charset=utf-8", b"utf8"),
        ["日本語のメール、Ünïcødé ✓ 🚀".encode("utf-8"),
         "中文 한국어 ελληνικά".encode("utf-8")]), "unchanged")

    add("high-bytes", _message(
        _common(b"Subject: Raw octets",
                b"Content-Type: application/octet-stream; charset=x-unknown", b"octets"),
        _high_byte_lines(rng, 40)), "unchanged")

    add("big", _big_message(rng), "unchanged")

    add("gb2312-raw-subject", _message(
        _common(b"Subject: " + "季度报告".encode("gb2312"),
                b"Content-Type: text/plain; charset=gb2312", b"gb2312a"),
        ["这是一封简体中文邮件。".encode("gb2312"), b"Line two."]), "tag", b"GB2312")

    # Content-Type ahead of the Subject line, the charset quoted and in capitals.
    gb_headers = _common(None, b'Content-Type: text/plain; charset="GB2312"', b"gb2312b")
    gb_headers.append(b"Subject: " + _encoded_word(b"GB2312", "会议通知", "gb2312"))
    add("gb2312-encoded-subject", _message(
        gb_headers, ["请于周五参加会议。".encode("gb2312")]), "tag", b"GB2312")

    add("big5-no-subject", _message(
        _common(None, b"Content-Type: text/plain; charset=big5", b"big5"),
        ["這是一封繁體中文郵件。".encode("big5"), b"No subject line above."]), "insert", b"big5")

    # A header as mail that crossed a few relays has it: several KB of Received lines ahead of
    # the subject and the charset, more than one TCP segment holds.
    received = [b"Received: from relay%d.example.net (relay%d.example.net [192.0.2.%d])\r\n"
                b"\tby mx.example.net (Postfix) with ESMTPS id 4Pb%04d;\r\n"
                b"\tTue, 14 Mar 2023 09:26:%02d +0900 (JST)" % (i, i, i, i, i) for i in range(30)]
    long_headers = _common(b"Subject: " + "长途旅行".encode("gb2312"),
                           b"Content-Type: text/plain; charset=gb2312", b"gb2312c")
    add("gb2312-after-received-lines", _message(
        long_headers[:1] + received + long_headers[1:], ["路很长。".encode("gb2312")]), "tag",
        b"GB2312")

    add("iso-2022-jp", _message(
        _common(b"Subject: " + _encoded_word(b"ISO-2022-JP", "会議の件", "iso-2022-jp"),
                b"Content-Type: text/plain; charset=iso-2022-jp", b"jis"),
        ["明日の会議は十時からです。".encode("iso-2022-jp")]), "unchanged")

    add("no-charset", _message(
        _common(b"Subject: Minutes of Tuesday", None, b"plain"),
        [b"Plain text without any declared character set."]), "tag")

    # A spam filter's copy of the subject behind the real one: the real one gets the tag.
    spam_headers = _common(b"Subject: " + "季度报告".encode("gb2312"),
                           b"Content-Type: text/plain; charset=gb2312", b"prevsubject")
    spam_headers.insert(5, b"X-Spam-Prev-Subject: " + "季度报告".encode("gb2312"))
    add("spam-prev-subject", _message(spam_headers, ["报告。".encode("gb2312")]), "tag",
        b"GB2312")

    # No Subject: the added one goes behind the whole folded To field, and a quoted "Subject:"
    # in the body stays as it is.
    folded = _common(None, b"Content-Type: text/plain; charset=big5", b"foldedto")
    folded[3:4] = [b"To: Quorlin User <quorlin@example.net>,", b"\tSecond User <second@example.net>"]
    add("folded-to-no-subject", _message(
        folded, [b"-------- Forwarded Message --------", b"Subject: an old one", b"Text."]),
        "insert", b"big5")

    # Blocked character sets that only the encoded words and every charset line show: the
    # subject or the sender as an encoded word under charset=utf-8, and a second charset line.
    add("gb2312-word-under-utf8", _message(
        _common(b"Subject: Re: " + _encoded_word(b"GB2312", "会议通知", "gb2312"),
                b"Content-Type: text/plain; charset=utf-8", b"gbword"),
        ["请于周五参加会议。".encode("utf-8")]), "unchanged", b"GB2312", "tag")
    q_word = b"=?big5?Q?" + "".join("=%02X" % b for b in "王".encode("big5")).encode() + b"?="
    from_headers = _common(b"Subject: Hello", b"Content-Type: text/plain; charset=utf-8",
                           b"big5from")
    from_headers[2] = b"From: " + q_word + b" <wang@example.tw>"
    add("big5-encoded-from", _message(from_headers, [b"Hello."]), "unchanged", b"big5", "tag")
    second_line = _common(b"Subject: Forwarded", b"Content-Type: text/plain; charset=utf-8",
                          b"secondline")
    second_line.append(b"X-Original-Content-Type: text/plain; charset=gb2312")
    add("gb2312-second-charset-line", _message(second_line, [b"Text."]), "unchanged", b"GB2312",
        "tag")

    # A header longer than the gathering's bound: it reaches the client untouched.
    many = [b"Received: from relay%d.example.net by mx.example.net; Tue, 14 Mar 2023 09:26:53"
            b" +0900" % i for i in range(8000)]
    long_header = _common(b"Subject: Crossed many relays",
                          b"Content-Type: text/plain; charset=us-ascii", b"longheader")
    add("header-beyond-the-bound", _message(long_header[:1] + many + long_header[1:],
                                            [b"Short body."]), "unchanged")

    return messages


def _big_message(rng):
    """About 5 MB: 8-bit lines, ASCII lines and lines that need dot-stuffing."""
    headers = _common(b"Subject: Large attachment",
                      b"Content-Type: text/plain; charset=utf-8", b"big")
    head = _message(headers, [])
    body = []
    size = len(head)
    n = 0
    # Every byte mapped into 0x80-0xFF: no CR or LF inside a line.
    high = bytes(0x80 | b for b in range(256))
    while size < BIG_MESSAGE_SIZE:
        if n % 3 == 0:
            line = rng.randbytes(200).translate(high)
        elif n % 3 == 1:
            line = b"line %07d of the large message" % n
        else:
            line = b"." + rng.randbytes(50).translate(high)
        body.append(line)
        size += len(line) + 2
        n += 1
    return head + b"\r\n".join(body) + b"\r\n"
