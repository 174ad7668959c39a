#!/usr/bin/python3
"""Checks that an HTML report stands alone: valid HTML5 syntax (html5lib in
strict mode), no script, no plug-in, no address outside the file itself,
and the viewport and charset a phone needs. Prints "ok" or the first fault."""
import sys
from html.parser import HTMLParser

import html5lib

FORBIDDEN_TAGS = {"script", "iframe", "frame", "object", "embed", "link", "base", "applet", "noscript"}
ADDRESS_ATTRIBUTES = {"src", "href", "srcset", "action", "poster", "data", "background", "formaction"}


class Checker(HTMLParser):
    def __init__(self):
        super().__init__()
        self.faults = []
        self.viewport = False
        self.charset = False
        self.in_style = False

    def handle_starttag(self, tag, attrs):
        if tag in FORBIDDEN_TAGS:
            self.faults.append("<%s> element" % tag)
        for name, value in attrs:
            value = value or ""
            if name.startswith("on"):
                self.faults.append("event handler %s on <%s>" % (name, tag))
            if name in ADDRESS_ATTRIBUTES and not value.startswith("data:"):
                self.faults.append("external reference %s=%r on <%s>" % (name, value[:60], tag))
            if name == "style" and "url(" in value.replace(" ", "") and "url(data:" not in value:
                self.faults.append("url() in a style attribute")
        attributes = dict(attrs)
        if tag == "meta" and attributes.get("name") == "viewport" and "width=device-width" in (attributes.get("content") or ""):
            self.viewport = True
        if tag == "meta" and (attributes.get("charset") or "").lower() == "utf-8":
            self.charset = True
        self.in_style = tag == "style"

    def handle_endtag(self, tag):
        if tag == "style":
            self.in_style = False

    def handle_data(self, data):
        if self.in_style and ("url(" in data or "@import" in data):
            self.faults.append("url() or @import in the style sheet")


def main():
    with open(sys.argv[1], "rb") as f:
        raw = f.read()
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as e:
        print("not UTF-8: %s" % e)
        return 1
    if not text.startswith("<!DOCTYPE html>"):
        print("no HTML5 doctype")
        return 1
    parser = html5lib.HTMLParser(strict=True)
    try:
        parser.parse(text)
    except Exception as e:  # html5lib raises ParseError on the first fault
        print("HTML5 parse error: %s" % e)
        return 1
    checker = Checker()
    checker.feed(text)
    if not checker.viewport:
        checker.faults.append("no viewport meta")
    if not checker.charset:
        checker.faults.append("no utf-8 charset meta")
    if checker.faults:
        print(checker.faults[0])
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
