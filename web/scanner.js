// The tokens of the polynomials' grammar (polynomial.js), read from left to right as the programs'
// reader (src/polynomial.cpp) reads them, so that both accept and refuse the same texts. The first
// problem found stops the reading: a method returns null, and `problem` says why.
import { echo, real } from './numbers.js';

export const maxDegree = 20;

// The digits ⁰ to ⁹, which a power may be written in (z² for z^2, as the page's heading writes it).
const superscripts = '⁰¹²³⁴⁵⁶⁷⁸⁹';

export class Scanner {
  // what: the thing read, as the refusals name it ('un polinomio en z').
  constructor(text, what) {
    this.text = text;
    this.what = what;
    this.at = 0;
    this.problem = '';
  }

  peek() {
    return this.at < this.text.length ? this.text[this.at] : '';
  }

  done() {
    return this.at >= this.text.length;
  }

  spaces() {
    while (this.peek() === ' ') {
      this.at += 1;
    }
  }

  unexpected() {
    const what = 'no es ' + this.what;
    return this.done()
      ? what + ': termina antes de tiempo'
      : what + ': no se entiende desde la posición ' + (this.at + 1) + ', ' + echo(this.text.slice(this.at));
  }

  fail(why) {
    this.problem = why;
    return null;
  }

  // An optional '+' or '-' with the spaces after it; whether it was '-'.
  sign() {
    const c = this.peek();
    if (c !== '+' && c !== '-') {
      return false;
    }
    this.at += 1;
    this.spaces();
    return c === '-';
  }

  // An unsigned decimal; its range checked by the programs' rule.
  number() {
    const m = /^(\d*\.?\d*)([eE][+-]?\d*)?/.exec(this.text.slice(this.at));
    if (!/\d/.test(m[1])) {
      return this.fail(this.unexpected());
    }
    if (m[2] !== undefined && !/\d$/.test(m[2])) {
      this.at += m[1].length + m[2].length;
      return this.fail(this.unexpected());
    }
    const r = real(m[0]);
    this.at += m[0].length;
    return r.problem ? this.fail('tiene un número fuera de rango: ' + r.problem) : r.value;
  }

  // coef = real ["i"] | "i" | "(" real sign real "i" ")": [re, im], or null.
  coefficient() {
    if (this.peek() === 'i') {
      this.at += 1;
      return [0, 1];
    }
    if (this.peek() !== '(') {
      const value = this.number();
      if (value === null) {
        return null;
      }
      const before = this.at;
      this.spaces();
      if (this.peek() === 'i') {
        this.at += 1;
        return [0, value];
      }
      this.at = before;
      return [value, 0];
    }
    this.at += 1;
    this.spaces();
    const negativeRe = this.sign();
    const re = this.number();
    if (re === null) {
      return null;
    }
    this.spaces();
    if (this.peek() !== '+' && this.peek() !== '-') {
      return this.fail(this.unexpected());
    }
    const negativeIm = this.sign();
    const im = this.number();
    if (im === null) {
      return null;
    }
    this.spaces();
    if (!this.expect('i')) {
      return null;
    }
    this.spaces();
    if (!this.expect(')')) {
      return null;
    }
    return [negativeRe ? -re : re, negativeIm ? -im : im];
  }

  // The character c, passed; or a problem.
  expect(c) {
    if (this.peek() !== c) {
      return this.fail(this.unexpected()) !== null;
    }
    this.at += 1;
    return true;
  }

  // After a 'z': its power, "^" digits or superscript digits, from 1 to 20; 1 without one; or null.
  exponent() {
    const before = this.at;
    this.spaces();
    let digits = '';
    if (this.peek() === '^') {
      this.at += 1;
      this.spaces();
      digits = /^\d*/.exec(this.text.slice(this.at))[0];
      this.at += digits.length;
      if (digits === '') {
        return this.fail(this.unexpected());
      }
    } else {
      while (!this.done() && superscripts.includes(this.peek())) {
        digits += String(superscripts.indexOf(this.peek()));
        this.at += 1;
      }
      if (digits === '') {
        this.at = before;
        return 1;
      }
    }
    const power = Number(digits); // leading zeros count for nothing, as in the programs: z^007 is z^7
    if (power < 1 || power > maxDegree) {
      return this.fail('tiene la potencia z^' + digits + ': las potencias van de 1 a ' + maxDegree);
    }
    return power;
  }

  // term = coef ["*"] power | coef | power: [coefficient, power], or null.
  term() {
    let coef = [1, 0];
    if (this.peek() !== 'z') {
      coef = this.coefficient();
      if (coef === null) {
        return null;
      }
      this.spaces();
      if (this.peek() === '*') {
        this.at += 1;
        this.spaces();
        if (this.peek() !== 'z') {
          return this.fail(this.unexpected());
        }
      }
      if (this.peek() !== 'z') {
        return [coef, 0];
      }
    }
    this.at += 1;
    const power = this.exponent();
    return power === null ? null : [coef, power];
  }
}
