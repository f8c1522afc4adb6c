#!/usr/bin/env python3
"""Writes the site's service worker from its template: the files of this release (the page's
own and each clip as the page asks for it), each with the start of its SHA-256, and the
release's name, made of all of them, so that any change makes a new release."""

import hashlib
import json
import os
import sys

PAGE_FILES = ['index.html', 'page.js', 'worklet.js', 'vesquin.css', 'vesquin.js', 'vesquin.wasm',
              'clips.json', 'favicon.ico', 'manifest.webmanifest', 'icon.svg', 'icon-192.png', 'icon-512.png']


def digest(path):
    with open(path, 'rb') as f:
        return hashlib.sha256(f.read()).hexdigest()[:16]


def main():
    template, site = sys.argv[1], sys.argv[2]
    with open(os.path.join(site, 'clips.json')) as f:
        clips = json.load(f)
    urls = PAGE_FILES + [clips['best'], clips['hrtf']] + [clip['file'] for clip in clips['clips']]
    files = [[url, digest(os.path.join(site, url.split('?')[0]))] for url in urls]
    release = hashlib.sha256(json.dumps(files).encode()).hexdigest()[:16]
    with open(template) as f:
        text = f.read()
    text = text.replace("'@RELEASE@'", json.dumps(release)).replace("'@FILES@'", json.dumps(files))
    with open(os.path.join(site, 'sw.js'), 'w') as f:
        f.write(text)


if __name__ == '__main__':
    main()
