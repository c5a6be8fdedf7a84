#!/usr/bin/env node
'use strict';
// Holds the plug-in and the simulator to Adobe's published `premierepro` declarations
// (@adobe/premierepro), beyond what `tsc --checkJs` already checks:
//
//  1. In uxp-plugin/index.js, every call of a Promise-returning premierepro member is
//     awaited right there, and no synchronous one is awaited; every create…Action call
//     sits inside a function handed to `tx(…)` (as its build callback) or to
//     `lockedAccess(…)`; callbacks handed to lockedAccess / executeTransaction /
//     createEmptySelection are not async (their lock or selection would not span an await).
//  2. Every class and member that the simulator's premierepro module offers is declared,
//     with the same shape: static or instance, method or property, Promise or not, the
//     same number of required parameters, read-only or writable. Members offered although
//     undeclared must be listed in sim/premierepro/undeclared.js. This holds at every
//     Premiere version the simulator models (sim/premierepro/since.js), and where Adobe's
//     reference corrects the declarations (sim/premierepro/errata.js) the correction wins.
//  3. Reading a member that the errata make a Promise (Media.duration …) is awaited, and
//     every premierepro member the plug-in uses exists in some version it admits; with
//     --members the members are listed with the Premiere version each needs.
//
// Usage: node tests/js/tools/check-api.js [--members]   (exit status 1 on any finding)

const path = require('path');
const ts = require('typescript');

const ROOT = path.resolve(__dirname, '..', '..', '..');
const PLUGIN = path.join(ROOT, 'uxp-plugin', 'index.js');
const DECLS = path.join(ROOT, 'node_modules', '@adobe', 'premierepro', 'src', 'premierepro.d.ts');
const UNDECLARED_DTS = path.join(ROOT, 'types', 'premierepro-undeclared.d.ts');
const ERRATA_DTS = path.join(ROOT, 'types', 'premierepro-errata.d.ts');
const since = require(path.join(ROOT, 'sim', 'premierepro', 'since.js'));
const ERRATA = require(path.join(ROOT, 'sim', 'premierepro', 'errata.js'));

const LOCK_TAKERS = new Set(['lockedAccess', 'executeTransaction', 'createEmptySelection']);

/**
 * Builds a TypeScript program from tsconfig.json; `virtual` maps extra absolute file names
 * to their text (used by the tests to check probe files without writing them to disk).
 */
function createProgram(virtual = {}, rootNames = null) {
  const configPath = path.join(ROOT, 'tsconfig.json');
  const config = ts.readConfigFile(configPath, ts.sys.readFile);
  const parsed = ts.parseJsonConfigFileContent(config.config, ts.sys, ROOT);
  const host = ts.createCompilerHost(parsed.options);
  const origGet = host.getSourceFile.bind(host);
  host.getSourceFile = (name, lang, onError, create) => {
    const key = path.resolve(name);
    if (Object.prototype.hasOwnProperty.call(virtual, key)) return ts.createSourceFile(name, virtual[key], lang, true);
    return origGet(name, lang, onError, create);
  };
  const origExists = host.fileExists.bind(host);
  host.fileExists = (name) => Object.prototype.hasOwnProperty.call(virtual, path.resolve(name)) || origExists(name);
  const origRead = host.readFile.bind(host);
  host.readFile = (name) => (Object.prototype.hasOwnProperty.call(virtual, path.resolve(name)) ? virtual[path.resolve(name)] : origRead(name));
  const names = rootNames || parsed.fileNames.concat(Object.keys(virtual));
  return ts.createProgram({ rootNames: names, options: parsed.options, host });
}

function isApiDeclaration(decl) {
  if (!decl) return false;
  const file = path.resolve(decl.getSourceFile().fileName);
  return file === DECLS || file === UNDECLARED_DTS || file === ERRATA_DTS;
}

/**
 * The class and member a declaration belongs to, from the type alias around it ("Media",
 * "ProjectStatic" → static), or null for anything else (the module root, parameters …).
 * In the undeclared list the class is the property of UndeclaredPremiere holding it.
 */
function memberOf(decl) {
  if (!decl || !decl.name || !ts.isIdentifier(decl.name)) return null;
  for (let p = decl.parent; p; p = p.parent) {
    if (ts.isTypeAliasDeclaration(p)) {
      const alias = p.name.text;
      if (alias === 'premierepro') return null;
      if (alias === 'UndeclaredPremiere') {
        for (let q = decl.parent; q && q !== p; q = q.parent) {
          if (ts.isPropertySignature(q) && q.name && ts.isIdentifier(q.name) && q !== decl) {
            return { className: q.name.text, member: decl.name.text, static: true };
          }
        }
        return null;
      }
      const isStatic = /Static$/.test(alias);
      return { className: alias.replace(/Static$/, ''), member: decl.name.text, static: isStatic };
    }
    if (ts.isModuleDeclaration(p)) return null;
  }
  return null;
}

function erratumFor(className, member, isStatic) {
  return ERRATA.find((e) => e.class === className && e.member === member && !!e.static === !!isStatic) || null;
}

function isPromiseType(type) {
  if (!type) return false;
  const sym = type.getSymbol() || type.aliasSymbol;
  if (sym && sym.getName() === 'Promise') return true;
  if (type.isUnion()) return type.types.some(isPromiseType);
  return false;
}

function calleeName(call) {
  const e = call.expression;
  if (ts.isPropertyAccessExpression(e)) return e.name.text;
  if (ts.isIdentifier(e)) return e.text;
  return null;
}

function isFunctionNode(n) {
  return ts.isFunctionExpression(n) || ts.isArrowFunction(n) || ts.isFunctionDeclaration(n) || ts.isMethodDeclaration(n);
}

/** True when the function node is handed to tx(…) as its build callback or to lockedAccess(…). */
function isLockedCallback(fn) {
  let arg = fn;
  while (arg.parent && ts.isParenthesizedExpression(arg.parent)) arg = arg.parent;
  const call = arg.parent;
  if (!call || !ts.isCallExpression(call)) return false;
  const index = call.arguments.indexOf(arg);
  const name = calleeName(call);
  if (name === 'tx' && ts.isIdentifier(call.expression)) return index === 2;
  return name === 'lockedAccess' && index === 0;
}

/** Checks one plug-in source file; returns a list of findings (text). */
function checkPluginFile(program, fileName) {
  const checker = program.getTypeChecker();
  const sf = program.getSourceFile(fileName);
  if (!sf) return [`${fileName}: not part of the program`];
  const findings = [];
  const where = (node) => {
    const { line, character } = sf.getLineAndCharacterOfPosition(node.getStart(sf));
    return `${path.relative(ROOT, fileName)}:${line + 1}:${character + 1}`;
  };
  const awaitedHere = (node) => {
    let outer = node;
    while (outer.parent && ts.isParenthesizedExpression(outer.parent)) outer = outer.parent;
    return !!outer.parent && ts.isAwaitExpression(outer.parent);
  };
  const visit = (node) => {
    if (ts.isPropertyAccessExpression(node) && !(node.parent && ts.isCallExpression(node.parent) && node.parent.expression === node)) {
      const sym = checker.getSymbolAtLocation(node.name);
      const decl = sym && (sym.valueDeclaration || (sym.declarations && sym.declarations[0]));
      const m = isApiDeclaration(decl) ? memberOf(decl) : null;
      const e = m && erratumFor(m.className, m.member, m.static);
      if (e && e.kind === 'property' && e.promise && !awaitedHere(node)) {
        findings.push(`${where(node)}: ${m.className}.${m.member} is a Promise (Adobe's reference, see errata.js) and must be awaited`);
      }
    }
    if (ts.isCallExpression(node)) {
      const sig = checker.getResolvedSignature(node);
      const decl = sig && sig.getDeclaration();
      if (isApiDeclaration(decl)) {
        const name = calleeName(node) || node.expression.getText(sf);
        let outer = node;
        while (outer.parent && ts.isParenthesizedExpression(outer.parent)) outer = outer.parent;
        const awaited = !!outer.parent && ts.isAwaitExpression(outer.parent);
        const m = memberOf(decl);
        const e = m && erratumFor(m.className, m.member, m.static);
        const promise = e && e.kind === 'method' ? e.promise : isPromiseType(checker.getReturnTypeOfSignature(sig));
        if (promise && !awaited) findings.push(`${where(node)}: ${name}() returns a Promise and must be awaited`);
        if (!promise && awaited) findings.push(`${where(node)}: ${name}() is synchronous in the declarations; do not await it`);
        if (/^create\w*Action$/.test(name)) {
          let ok = false;
          for (let p = node.parent; p; p = p.parent) {
            if (isFunctionNode(p) && isLockedCallback(p)) { ok = true; break; }
          }
          if (!ok) findings.push(`${where(node)}: ${name}() must be built inside lockedAccess (a tx build callback or a lockedAccess callback)`);
        }
        if (LOCK_TAKERS.has(name)) {
          for (const a of node.arguments) {
            if ((ts.isArrowFunction(a) || ts.isFunctionExpression(a)) && a.modifiers && a.modifiers.some((m) => m.kind === ts.SyntaxKind.AsyncKeyword)) {
              findings.push(`${where(a)}: the callback of ${name}() runs synchronously; it must not be async`);
            }
          }
        }
      }
    }
    ts.forEachChild(node, visit);
  };
  visit(sf);
  return findings;
}

/**
 * Every premierepro member the plug-in calls or reads, with the Premiere version it needs
 * (since.js; baseline members 25.6), sorted by name.
 * @returns {{ name: string, since: string, where: string[] }[]}
 */
function pluginMembers(program, fileName) {
  const checker = program.getTypeChecker();
  const sf = program.getSourceFile(fileName);
  const found = new Map();
  const visit = (node) => {
    if (ts.isPropertyAccessExpression(node)) {
      const sym = checker.getSymbolAtLocation(node.name);
      const decl = sym && (sym.valueDeclaration || (sym.declarations && sym.declarations[0]));
      const m = isApiDeclaration(decl) ? memberOf(decl) : null;
      if (m) {
        const name = `${m.className}${m.static ? '.' : '#'}${m.member}`;
        const line = sf.getLineAndCharacterOfPosition(node.getStart(sf)).line + 1;
        if (!found.has(name)) found.set(name, { name, since: since.sinceOf(m.className, m.member, m.static), where: [] });
        found.get(name).where.push(String(line));
      }
    }
    ts.forEachChild(node, visit);
  };
  visit(sf);
  return [...found.values()].sort((a, b) => a.name.localeCompare(b.name));
}

/** Members the plug-in uses that no version it admits offers (newer than any modelled one). */
function unreachableMembers(members) {
  return members.filter((m) => since.compareVersions(m.since, since.NEWEST) > 0)
    .map((m) => `${m.name}: needs Premiere ${m.since}, newer than any version the plug-in admits and the simulator models (${since.NEWEST})`);
}

// ---------------------------------------------------------------------------------------
// The simulator's surface against the declarations

function memberShape(checker, symbol) {
  const decl = symbol.valueDeclaration || (symbol.declarations && symbol.declarations[0]);
  let type = checker.getTypeOfSymbolAtLocation(symbol, decl);
  if (type.getNonNullableType) type = type.getNonNullableType();
  const sigs = type.getCallSignatures();
  const isMethod = !!decl && (ts.isMethodSignature(decl) || ts.isMethodDeclaration(decl) || (sigs.length > 0 && (ts.isPropertySignature(decl) && decl.type && ts.isFunctionTypeNode(decl.type))));
  if (!isMethod) {
    const readonly = !!decl && !!decl.modifiers && decl.modifiers.some((m) => m.kind === ts.SyntaxKind.ReadonlyKeyword);
    return { kind: 'property', readonly };
  }
  const sig = sigs[0];
  const params = sig.getParameters().map((p) => p.valueDeclaration);
  // A required parameter after an optional one (a quirk of the typings) still counts as optional here.
  let required = 0;
  for (const p of params) {
    if (!p || p.questionToken || p.initializer || p.dotDotDotToken) break;
    required += 1;
  }
  return { kind: 'method', promise: isPromiseType(checker.getReturnTypeOfSignature(sig)), required, total: params.length };
}

function typeMembers(checker, type) {
  const out = new Map();
  for (const sym of checker.getPropertiesOfType(type)) out.set(sym.getName(), memberShape(checker, sym));
  return out;
}

function simShape(owner, key) {
  const d = Object.getOwnPropertyDescriptor(owner, key);
  if (d.get || d.set) return { kind: 'property', readonly: !d.set };
  if (typeof d.value === 'function') {
    return { kind: 'method', promise: d.value.constructor && d.value.constructor.name === 'AsyncFunction', required: d.value.length };
  }
  return { kind: 'property', readonly: !d.writable };
}

function compareMember(where, declared, sim) {
  const f = [];
  if (declared.kind !== sim.kind) {
    f.push(`${where}: declared as a ${declared.kind}, offered as a ${sim.kind}`);
    return f;
  }
  if (declared.kind === 'method') {
    if (declared.promise !== sim.promise) f.push(`${where}: declared ${declared.promise ? 'Promise-returning' : 'synchronous'}, offered ${sim.promise ? 'async' : 'synchronous'}`);
    if (declared.required !== sim.required) f.push(`${where}: declared with ${declared.required} required parameter(s), offered with ${sim.required}`);
  } else if (declared.readonly !== sim.readonly) {
    f.push(`${where}: declared ${declared.readonly ? 'read-only' : 'writable'}, offered ${sim.readonly ? 'read-only' : 'writable'}`);
  }
  return f;
}

const IGNORED_STATICS = new Set(['length', 'name', 'prototype']);

/** A declared shape with Adobe's reference correction applied (errata.js). */
function corrected(className, member, isStatic, declared) {
  const e = erratumFor(className, member, isStatic);
  if (!e || e.kind !== 'method' || declared.kind !== 'method') return declared;
  return Object.assign({}, declared, { promise: e.promise });
}

/** Compares a premierepro module object (the simulator's) with the declarations. */
function checkModuleSurface(program, ppro, undeclared) {
  const checker = program.getTypeChecker();
  const sf = program.getSourceFile(DECLS);
  const findings = [];
  const report = { classes: 0, members: 0, undeclaredUsed: [] };
  const aliases = new Map();
  ts.forEachChild(sf, (n) => {
    if (ts.isTypeAliasDeclaration(n)) aliases.set(n.name.text, n);
    if (ts.isModuleDeclaration(n) && n.name.text === 'Constants') aliases.set('Constants', n);
  });
  const rootType = checker.getTypeAtLocation(aliases.get('premierepro').name);
  const allowed = (cls, member, isStatic) => {
    const hit = undeclared.find((u) => u.className === cls && u.member === member && !!u.static === isStatic);
    if (hit) report.undeclaredUsed.push(`${cls}${isStatic ? '.' : '#'}${member}`);
    return hit;
  };
  for (const key of Object.keys(ppro)) {
    const rootProp = checker.getPropertyOfType(rootType, key);
    if (!rootProp) {
      // A whole class documented elsewhere (member "*"); its members are the plug-in's
      // concern through types/premierepro-undeclared.d.ts.
      if (!allowed(key, '*', true)) findings.push(`premierepro.${key}: not declared`);
      continue;
    }
    report.classes += 1;
    const propDecl = rootProp.valueDeclaration;
    const typeText = propDecl.type.getText(sf);
    if (key === 'Constants') {
      const ns = checker.getTypeOfSymbolAtLocation(rootProp, propDecl);
      for (const en of Object.keys(ppro.Constants)) {
        const enumSym = checker.getPropertyOfType(ns, en);
        if (!enumSym) { findings.push(`Constants.${en}: not declared`); continue; }
        const enumType = checker.getTypeOfSymbolAtLocation(enumSym, enumSym.valueDeclaration);
        for (const m of Object.keys(ppro.Constants[en])) {
          report.members += 1;
          if (!checker.getPropertyOfType(enumType, m)) findings.push(`Constants.${en}.${m}: not declared`);
        }
      }
      continue;
    }
    const declaredType = checker.getTypeOfSymbolAtLocation(rootProp, propDecl);
    let statics;
    let instance;
    if (/Static$/.test(typeText)) {
      statics = typeMembers(checker, declaredType);
      const inst = aliases.get(typeText.replace(/Static$/, ''));
      instance = inst ? typeMembers(checker, checker.getTypeAtLocation(inst.name)) : new Map();
    } else {
      statics = new Map();
      instance = typeMembers(checker, declaredType);
    }
    const Class = ppro[key];
    if (typeof Class !== 'function') {
      findings.push(`premierepro.${key}: offered as a ${typeof Class}, expected a class`);
      continue;
    }
    for (const name of Object.getOwnPropertyNames(Class)) {
      if (IGNORED_STATICS.has(name)) continue;
      report.members += 1;
      const d = statics.get(name);
      if (!d) {
        if (!allowed(key, name, true)) findings.push(`${key}.${name}: offered as a static member but not declared`);
        continue;
      }
      findings.push(...compareMember(`${key}.${name}`, corrected(key, name, true, d), simShape(Class, name)));
    }
    for (const name of Object.getOwnPropertyNames(Class.prototype)) {
      if (name === 'constructor') continue;
      report.members += 1;
      const d = instance.get(name);
      if (!d) {
        if (!allowed(key, name, false)) findings.push(`${key}#${name}: offered as an instance member but not declared`);
        continue;
      }
      findings.push(...compareMember(`${key}#${name}`, corrected(key, name, false, d), simShape(Class.prototype, name)));
    }
  }
  return { findings, report };
}

/** Members the plug-in reaches through the UndeclaredPremiere type (types/premierepro-undeclared.d.ts). */
function pluginUndeclaredMembers(program) {
  const checker = program.getTypeChecker();
  const sf = program.getSourceFile(UNDECLARED_DTS);
  const out = [];
  if (!sf) return out;
  ts.forEachChild(sf, (n) => {
    if (ts.isTypeAliasDeclaration(n) && n.name.text === 'UndeclaredPremiere') {
      const t = checker.getTypeAtLocation(n.name);
      for (const cls of checker.getPropertiesOfType(t)) {
        const ct = checker.getTypeOfSymbolAtLocation(cls, cls.valueDeclaration).getNonNullableType();
        for (const m of checker.getPropertiesOfType(ct)) out.push(`${cls.getName()}.${m.getName()}`);
      }
    }
  });
  return out;
}

/** The simulator's surface at every modelled version; findings are prefixed with the version. */
function checkAllVersions(program) {
  const { AppModel, createPremiere } = require(path.join(ROOT, 'sim', 'premierepro'));
  const undeclared = require(path.join(ROOT, 'sim', 'premierepro', 'undeclared.js'));
  const findings = [];
  const reports = [];
  for (const version of since.VERSIONS) {
    const app = new AppModel({ version });
    try {
      const r = checkModuleSurface(program, createPremiere(app), undeclared);
      findings.push(...r.findings.map((f) => `Premiere ${version}: ${f}`));
      reports.push(Object.assign({ version }, r.report));
    } finally {
      app.dispose();
    }
  }
  return { findings, reports };
}

function main() {
  const program = createProgram({}, [PLUGIN, UNDECLARED_DTS, ERRATA_DTS, path.join(ROOT, 'types', 'premierepro.d.ts'),
    path.join(ROOT, 'types', 'uxp-runtime.d.ts'), path.join(ROOT, 'node_modules', '@adobe', 'cc-ext-uxp-types', 'uxp', 'index.d.ts')]);
  const findings = checkPluginFile(program, PLUGIN);
  const members = pluginMembers(program, PLUGIN);
  findings.push(...unreachableMembers(members));
  const all = checkAllVersions(program);
  findings.push(...all.findings);
  for (const f of findings) process.stderr.write(f + '\n');
  for (const r of all.reports) {
    process.stdout.write(`check-api: Premiere ${r.version}: simulator offers ${r.classes} premierepro classes, ${r.members} members checked against @adobe/premierepro\n`);
  }
  const undeclaredUsed = [...new Set(all.reports.flatMap((r) => r.undeclaredUsed))];
  process.stdout.write(`check-api: offered but undeclared (documented elsewhere): ${undeclaredUsed.join(', ') || 'none'}\n`);
  const newer = members.filter((m) => m.since !== since.BASELINE);
  process.stdout.write(`check-api: the plug-in uses ${members.length} premierepro members, ${newer.length} newer than ${since.BASELINE}: ${newer.map((m) => `${m.name} (${m.since})`).join(', ') || 'none'}\n`);
  if (process.argv.includes('--members')) {
    for (const m of members) process.stdout.write(`  ${m.name}  since ${m.since}  (index.js:${m.where.slice(0, 4).join(',')}${m.where.length > 4 ? ',…' : ''})\n`);
  }
  process.stdout.write(`check-api: used by the plug-in but undeclared: ${pluginUndeclaredMembers(program).join(', ') || 'none'}\n`);
  if (findings.length) {
    process.stdout.write(`check-api: ${findings.length} finding(s)\n`);
    process.exit(1);
  }
  process.stdout.write('check-api: ok\n');
}

module.exports = {
  createProgram, checkPluginFile, checkModuleSurface, checkAllVersions, pluginUndeclaredMembers, pluginMembers,
  unreachableMembers, memberOf, ROOT, PLUGIN, DECLS, ERRATA_DTS,
};

if (require.main === module) main();
