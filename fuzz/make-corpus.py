#!/usr/bin/env python3
"""Records real answers of the simulator (build/bin/m1620-sim) as the fuzz seed corpus.

Usage: fuzz/make-corpus.py [BIN_DIR]   (default: build/bin). Talks to 127.0.0.1 only.
Writes fuzz/corpus/answer/* (for fuzz_device_answer: a mode byte, then the raw answer or only
its body)."""
import hashlib, os, socket, subprocess, sys, urllib.request

here = os.path.dirname(os.path.abspath(__file__))
bin_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..', 'build', 'bin')
sim = subprocess.Popen([os.path.join(bin_dir, 'm1620-sim')], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
port = int(sim.stdout.readline().decode().rsplit(':', 1)[1])

def control(path):
    urllib.request.urlopen(urllib.request.Request(f'http://127.0.0.1:{port}{path}', data=b'', method='POST'), timeout=5).read()

def raw(body, path='/api/v2/self', method='POST'):
    s = socket.create_connection(('127.0.0.1', port), timeout=3)
    s.sendall(f'{method} {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nContent-Type: application/json\r\n'
              f'Content-Length: {len(body)}\r\nConnection: close\r\n\r\n'.encode() + body)
    data = b''
    try:
        while chunk := s.recv(65536):
            data += chunk
    except (socket.timeout, ConnectionResetError):
        pass
    s.close()
    return data

status = b'{"clock":{"sampling_rate":null,"sources":{"madi_coaxial":{"rate":null,"sync":null}}}}'
answers = {
    'status': raw(status),
    'set-rate': raw(b'{"clock":{"sampling_rate":96000}}'),
    'set-rate-rejected': raw(b'{"clock":{"sampling_rate":12345}}'),
    'not-found': raw(status, path='/nowhere'),
    'bad-method': raw(b'', method='GET'),
}
for name, fault in [('status-500', 'mode=status&code=500'), ('status-204', 'mode=status&code=204'),
                    ('empty', 'mode=empty'), ('not-json', 'mode=not-json'), ('array', 'mode=array'),
                    ('huge', 'mode=huge&bytes=2000'), ('close-mid-body', 'mode=close-mid-body'),
                    ('garbage', 'mode=garbage'), ('hang-headers', 'mode=hang-headers')]:
    control('/sim/fault?' + fault + '&count=1')
    answers[name] = raw(status)
control('/sim/state?report-madi=false&sync=false')
answers['partial'] = raw(status)
sim.terminate()
sim.wait()
# Framings the simulator does not use but a device's server may: chunked, interim, until-close.
body = answers['status'].partition(b'\r\n\r\n')[2]
answers['chunked'] = (b'HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n%x;x=1\r\n' % 10 + body[:10]
                      + b'\r\n%x\r\n' % (len(body) - 10) + body[10:] + b'\r\n0\r\nX-T: 1\r\n\r\n')
answers['interim'] = b'HTTP/1.1 100 Continue\r\n\r\n' + answers['status']
answers['until-close'] = b'HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n' + body

def write(folder, data):
    path = os.path.join(here, 'corpus', folder)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, hashlib.sha1(data).hexdigest()[:16]), 'wb') as f:
        f.write(data)

for name, data in answers.items():
    write('answer', b'\x01' + data)
    head, _, body = data.partition(b'\r\n\r\n')
    if body:
        write('answer', b'\x00' + body)
print(f'{len(answers)} answers recorded')
