#!/usr/bin/env python3
"""Runs every reference case of a golden folder with a built qern and compares
what the run leaves: the .pmk bytes, the output samples, the log and the
console text. Then renders each case a second time from the cache the first
run left (warm): exit status, output, cache and log must be the same bytes.
Exits 1 when any case differs.

Usage: scripts/check-golden.py QERN [GOLDEN_DIR]
(default GOLDEN_DIR: ../shared/golden beside the clone)."""
import os, re, shlex, shutil, struct, subprocess, sys, tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
Q = os.path.abspath(sys.argv[1])
G = sys.argv[2] if len(sys.argv) > 2 else os.path.join(ROOT, '..', 'shared', 'golden')
if not os.path.isdir(G):
    print('golden: skipped (no golden data at %s)' % G)
    sys.exit(0)
failures = 0


def rd(p):
    with open(p, 'rb') as f:
        return f.read()

for case in sorted(os.listdir(G)):
    d=os.path.join(G,case)
    if not os.path.isdir(d) or case=='inputs': continue
    args=shlex.split(open(os.path.join(d,'args.txt')).read())
    inp=os.path.join(G,args[0]); out=args[1]
    w=tempfile.mkdtemp(); shutil.copy(inp, os.path.join(w,'in.wav')); os.chmod(os.path.join(w,'in.wav'), 0o644)
    shutil.copy(Q, os.path.join(w,'qern'))
    r=subprocess.run([os.path.join(w,'qern'),'in.wav',out]+args[2:],cwd=w,capture_output=True)
    res=[case, 'rc=%d'%r.returncode]
    gp=os.path.join(d,'in_wav.pmk'); mp=os.path.join(w,'in_wav.pmk')
    if os.path.exists(gp): res.append('pmk=' + ('same' if os.path.exists(mp) and rd(gp)==rd(mp) else 'DIFF'))
    go=os.path.join(d,'out.wav'); mo=os.path.join(w,'out.wav')
    if os.path.exists(go):
        if not os.path.exists(mo): res.append('NO OUTPUT')
        else:
            a=rd(go); b=rd(mo)
            if a[:44]!=b[:44] or len(a)!=len(b): res.append('HEADER/LEN DIFF %d %d'%(len(a),len(b)))
            n=min(len(a),len(b))//2-22
            sa=struct.unpack('<%dh'%n,a[44:44+2*n]); sb=struct.unpack('<%dh'%n,b[44:44+2*n])
            diffs=[abs(x-y) for x,y in zip(sa,sb)]
            res.append('maxdiff=%d ndiff=%d/%d'%(max(diffs),sum(1 for x in diffs if x),n))
    gl=os.path.join(d,'log.txt'); ml=os.path.join(w,'qern.log')
    if os.path.exists(gl): res.append('log=' + ('same' if os.path.exists(ml) and open(ml,'rb').read()==open(gl,'rb').read() else 'DIFF:'+repr(open(ml,'rb').read() if os.path.exists(ml) else None)))
    elif os.path.exists(ml): res.append('UNEXPECTED LOG')
    so=open(os.path.join(d,'stdout.txt')).read().replace('(any)','X')
    mine=re.sub(r'処理時間=\d+msec','処理時間=Xmsec',r.stdout.decode())
    res.append('stdout='+('same' if mine==so else 'DIFF:'+repr(mine)))
    # The same call again, now from the warm cache.
    cold = {n: rd(os.path.join(w, n)) for n in ('in_wav.pmk', 'qern.log', out) if os.path.isfile(os.path.join(w, n))}
    for n in ('qern.log', out):
        if os.path.isfile(os.path.join(w, n)): os.remove(os.path.join(w, n))
    r2=subprocess.run([os.path.join(w,'qern'),'in.wav',out]+args[2:],cwd=w,capture_output=True)
    warm = {n: rd(os.path.join(w, n)) for n in ('in_wav.pmk', 'qern.log', out) if os.path.isfile(os.path.join(w, n))}
    differs = [n for n in sorted(set(cold) | set(warm)) if cold.get(n) != warm.get(n)]
    if r2.returncode != r.returncode: differs.append('rc=%d' % r2.returncode)
    res.append('warm=' + ('same' if not differs else 'DIFF:' + ','.join(differs)))
    shutil.rmtree(w)
    bad = any(('DIFF' in x) or ('NO ' in x) or ('UNEXPECTED' in x) or (x.startswith('maxdiff=') and not x.startswith('maxdiff=0 ')) for x in res)
    failures += bad
    print('FAIL' if bad else 'OK  ', ' '.join(res))

print('golden: %d case(s) differ' % failures)
sys.exit(1 if failures else 0)
