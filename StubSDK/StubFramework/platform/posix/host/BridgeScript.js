// window.external for the installer's pages: a Proxy that turns method
// calls, property access and callbacks into requests to the installer. It
// runs first in every document, and takes every builtin it relies on at that
// moment: a page library that replaces or extends them later (the request
// object's prototype, JSON, Object.prototype.toJSON) cannot forge an answer
// or rewrite a call. The installer puts its configuration (where requests go,
// the page session, method flags, how callbacks arrive) in place of the
// config placeholder before it hands the script out.
(function () {
  "use strict";
  var config = __CONFIG__;
  var apply = Reflect.apply;
  var Request = XMLHttpRequest;
  var open = Request.prototype.open, send = Request.prototype.send;
  var setHeader = Request.prototype.setRequestHeader;
  var statusOf = Object.getOwnPropertyDescriptor(Request.prototype, "status").get;
  var textOf = Object.getOwnPropertyDescriptor(Request.prototype, "responseText").get;
  var Events = window.EventSource, ProxyType = Proxy, ErrorType = Error;
  var dataOf = Object.getOwnPropertyDescriptor(MessageEvent.prototype, "data").get;
  var parse = JSON.parse, isInteger = Number.isInteger, isArray = Array.isArray;
  var charCodeAt = String.prototype.charCodeAt, toHex = Number.prototype.toString;
  var toUpper = String.prototype.toUpperCase, substring = String.prototype.substring;
  var toText = String, hasOwn = Object.prototype.hasOwnProperty;
  var define = Object.defineProperty, create = Object.create;
  var methods = config.methods;
  var callbacks = create(null);
  var nextCallback = 1;

  // An own property, whatever setters a library put on the prototypes.
  function put(object, key, value) {
    define(object, key, { value: value, writable: true, enumerable: true, configurable: true });
  }

  // JSON text from primitives only: no toJSON and no replaced stringify
  // reach the request.
  function quote(text) {
    var out = "\"";
    for (var i = 0; i < text.length; ++i) {
      var code = apply(charCodeAt, text, [i]);
      if (code === 34) out += "\\\"";
      else if (code === 92) out += "\\\\";
      else if (code < 32 || code === 0x2028 || code === 0x2029) {
        var hex = apply(toHex, code, [16]);
        out += "\\u" + apply(substring, "0000", [hex.length]) + hex;
      } else out += text[i];
    }
    return out + "\"";
  }

  function write(value) {
    if (value === null) return "null";
    switch (typeof value) {
      case "string": return quote(value);
      case "number": return value === value && value !== Infinity && value !== -Infinity
        ? toText(value) : "null";
      case "boolean": return value ? "true" : "false";
      case "object":
        var out = "";
        if (isArray(value)) {
          for (var i = 0; i < value.length; ++i) out += (i ? "," : "") + write(value[i]);
          return "[" + out + "]";
        }
        for (var key in value) {
          if (apply(hasOwn, value, [key])) out += (out ? "," : "") + quote(key) + ":" + write(value[key]);
        }
        return "{" + out + "}";
      default: return "null";
    }
  }

  // Arguments travel typed the way a script engine hands them to COM:
  // integral numbers in 32 bits as VT_I4, other numbers VT_R8, functions as
  // callbacks.
  function encode(value) {
    switch (typeof value) {
      case "undefined": return { t: "empty" };
      case "number":
        return (isInteger(value) && value >= -2147483648 && value <= 2147483647)
          ? { t: "i4", v: value } : { t: "r8", v: value };
      case "string": return { t: "bstr", v: value };
      case "boolean": return { t: "bool", v: value };
      case "function":
        var id = nextCallback++;
        callbacks[id] = value;  // a map without a prototype
        return { t: "dispatch", id: id };
      default:
        if (value === null) return { t: "null" };
        return { t: "bstr", v: toText(value) };
    }
  }

  function decode(value) {
    if (value === null || typeof value !== "object") return value;
    if (value.t === "empty") return undefined;
    if (value.t === "dispatch") return callbacks[value.id];
    return null;
  }

  function failure(text, number) {
    var error = new ErrorType(text);
    error.number = number;
    return error;
  }

  function post(message, wait) {
    var xhr = new Request();
    apply(open, xhr, ["POST", config.base + "invoke", !wait]);
    apply(setHeader, xhr, ["Content-Type", "application/json"]);
    apply(send, xhr, [write(message)]);
    return xhr;
  }

  function request(message) {
    var xhr;
    try {
      xhr = post(message, true);
    } catch (gone) {
      throw failure("window.external: the installer has gone", -2147417848);  // RPC_E_DISCONNECTED
    }
    var status = apply(statusOf, xhr, []);
    if (status !== 200) {
      throw failure("window.external: bridge answered " + status, -2147418113);  // E_UNEXPECTED
    }
    var reply = parse(apply(textOf, xhr, []));
    if (reply.hr < 0) {
      throw failure("window.external." + message.name + " failed: 0x" +
                    apply(toUpper, apply(toHex, reply.hr >>> 0, [16]), []), reply.hr);
    }
    return decode(reply.result);
  }

  function method(name) {
    return function () {
      var args = [];
      for (var i = 0; i < arguments.length; ++i) put(args, i, encode(arguments[i]));
      return request({ op: "call", session: config.session, name: name, flags: methods[name],
                       args: args });
    };
  }

  var target = {};
  define(window, "external", {
    configurable: false, enumerable: true, writable: false,
    value: new ProxyType(target, {
      get: function (t, name) {
        if (typeof name !== "string") return undefined;
        if (apply(hasOwn, methods, [name])) return method(name);
        return request({ op: "get", session: config.session, name: name });
      },
      set: function (t, name, value) {
        if (typeof name !== "string") return false;
        request({ op: "set", session: config.session, name: name, args: [encode(value)] });
        return true;
      },
      deleteProperty: function (t, name) {
        if (typeof name !== "string") return false;
        request({ op: "delete", session: config.session, name: name });
        return true;
      },
      has: function (t, name) {
        if (typeof name !== "string") return false;
        if (apply(hasOwn, methods, [name])) return true;
        return request({ op: "has", session: config.session, name: name });
      }
    })
  });

  function deliver(message) {
    var callback = callbacks[message.id];
    if (message.type === "release") {
      delete callbacks[message.id];
    } else if (callback) {
      var args = message.args || [];
      for (var i = 0; i < args.length; ++i) put(args, i, decode(args[i]));
      try { apply(callback, null, args); } catch (ignored) { }
    }
  }

  if (config.eventStream) {
    var events = new Events(config.base + "events?session=" + config.session);
    // A batch at a time; the next comes once this one is taken, so a page
    // slower than its workers gets their newest progress, not a backlog.
    events.onmessage = function (event) {
      var batch = parse(apply(dataOf, event, []));
      for (var i = 0; i < batch.length; ++i) deliver(batch[i]);
      post({ op: "taken", session: config.session }, false);
    };
  } else {
    // The host hands the events over itself, a JSON array at a time; only
    // the top document takes them.
    define(window, config.deliver, {
      configurable: false, enumerable: false, writable: false,
      value: function (text) {
        var batch = parse(text);
        for (var i = 0; i < batch.length; ++i) deliver(parse(batch[i]));
      }
    });
    if (window === window.top) request({ op: "connect", session: config.session });
  }

  // A page that closed the window before its load event has nobody to tell.
  function complete() {
    try { request({ op: "documentComplete", session: config.session }); } catch (ignored) { }
  }
  if (document.readyState === "complete") complete();
  else window.addEventListener("load", complete);

  // Script dialogs never hold the wizard up; where the host cannot swallow
  // the engine's own, they answer at once as if cancelled.
  if (config.quietDialogs) {
    window.alert = function () { };
    window.confirm = function () { return false; };
    window.prompt = function () { return null; };
  }
})();
